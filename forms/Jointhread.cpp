#include "forms/Jointhread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTreeWidget>

#include "forms/AudioFileEntry.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/Forms.h"
#include "join/EncoderSinks.h"
#include "join/JoinPipeline.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

namespace {

// The progress dialog as the join sees it.
class DialogProgress : public tandrel::JoinProgress {
public:
    explicit DialogProgress(const QThread &thread) : thread_(thread) { sinceEvents_.start(); }
    void SetLabel(const std::string &text) override {
        ProcessForm->ui->Label1->setText(QFile::decodeName(QByteArray::fromStdString(text)));
    }
    void Progress1(int percent) override { ProcessForm->ui->ProgressBar1->setValue(percent); }
    void Progress2(int percent) override { ProcessForm->ui->ProgressBar2->setValue(percent); }
    bool ProcessEventsAndShouldStop() override {
        // Pending events run often enough to keep the dialog alive and Cancel prompt, without
        // costing every 10 KB block a trip through the event loop.
        if (sinceEvents_.elapsed() >= 15) {
            QCoreApplication::processEvents();
            sinceEvents_.restart();
        }
        return thread_.isInterruptionRequested();
    }

private:
    const QThread &thread_;
    QElapsedTimer sinceEvents_;
};

tandrel::OutputSettings WizardSettings() {
    Ui::TOutputForm *w = OutputForm->ui;
    tandrel::OutputSettings out;
    if (w->RadioMP3->isChecked())
        out.kind = tandrel::OutputKind::Mp3;
    else if (w->RadioWMA->isChecked())
        out.kind = tandrel::OutputKind::Wma;
    else if (w->RadioWAV->isChecked())
        out.kind = tandrel::OutputKind::Wav;
    else
        out.kind = tandrel::OutputKind::None;
    out.mp3BitrateIndex = w->ComboBoxMP3Bitrate->currentIndex();
    out.mp3Copyright = w->CheckBoxMP3Copyright->isChecked();
    out.mp3Crc = w->CheckBoxMP3CRC->isChecked();
    out.mp3Original = w->CheckBoxMP3Original->isChecked();
    out.mp3Private = w->CheckBoxMP3Private->isChecked();
    out.wmaBitrateIndex = w->ComboBoxWMABitrate->currentIndex();
    out.path = QFile::encodeName(w->EditOutputFile->text()).toStdString();
    return out;
}

} // namespace

TJoinThread::TJoinThread(bool) {
    connect(this, &QThread::finished, this, &QObject::deleteLater); // frees itself
}

TJoinThread::~TJoinThread() {
    wait();
}

void TJoinThread::run() {
    QMetaObject::invokeMethod(
        this, [this] { JoinFiles(); }, Qt::BlockingQueuedConnection);
}

void TJoinThread::JoinFiles() {
    tandrel::JoinRequest request;
    QTreeWidget *list = MainForm->ui->ListView1;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = list->topLevelItem(i);
        request.inputs.push_back(
            {QFile::encodeName(RowPath(row)).toStdString(),
             {SubItem(row, 6).toInt(), SubItem(row, 7).toInt(), SubItem(row, 8).toInt()},
             ExactBytes(row)});
    }
    request.target = {OutSampleRate, OutChannels, OutBits};
    request.output = WizardSettings();
    request.tempPcmPath = QFile::encodeName(TempFileName).toStdString();
    request.makeEncoder = &tandrel::MakeEncoderSink;

    DialogProgress progress(*this);
    if (tandrel::RunJoin(request, progress) == tandrel::JoinStatus::Failed)
        ProcessForm->JoinFailed = true;

    ProcessForm->CloseByJoin();
    MainForm->update();
}
