#include "forms/Jointhread.h"

#include <QFile>
#include <QTreeWidget>

#include "audio/TrackTags.h"
#include "common/FileIo.h"
#include "forms/AudioFileEntry.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/Forms.h"
#include "forms/ListInputs.h"
#include "join/EncoderSinks.h"
#include "join/OutputMetadata.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

namespace {

// The progress dialog as the join sees it: each change becomes one of the thread's signals.
class DialogProgress : public tandrel::JoinProgress {
public:
    explicit DialogProgress(TJoinThread &thread) : thread_(thread) {}
    void SetLabel(const std::string &text) override {
        emit thread_.LabelChanged(QFile::decodeName(QByteArray::fromStdString(text)));
    }
    void Progress1(int percent) override { Send(percent, shown1_, &TJoinThread::Progress1Changed); }
    void Progress2(int percent) override { Send(percent, shown2_, &TJoinThread::Progress2Changed); }
    bool ProcessEventsAndShouldStop() override { return thread_.isInterruptionRequested(); }

private:
    // Only changes travel, so that the window's queue holds a few hundred steps at most.
    void Send(int percent, int &shown, void (TJoinThread::*signal)(int)) {
        if (percent == shown)
            return;
        shown = percent;
        emit(thread_.*signal)(percent);
    }

    TJoinThread &thread_;
    int shown1_ = -1;
    int shown2_ = -1;
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
    out.mp3Copy = w->CheckBoxMP3Copy->isChecked();
    out.wmaBitrateIndex = w->ComboBoxWMABitrate->currentIndex();
    out.path = QFile::encodeName(w->EditOutputFile->text()).toStdString();
    return out;
}

// The first row's album tags and cover, read again now (the file may have been tagged since it
// was added), and a chapter per row; nothing unless the wizard's box asks for them.
tandrel::OutputMetadata ListMetadata(bool wanted) {
    tandrel::OutputMetadata metadata;
    if (!wanted)
        return metadata;
    QTreeWidget *list = MainForm->ui->ListView1;
    if (list->topLevelItemCount() > 0) {
        tandrel::Track first = TrackOf(list->topLevelItem(0));
        tandrel::ReadTrackTags(first, true);
        metadata = tandrel::AlbumMetadata(first);
    }
    metadata.writeChapters = true;
    return metadata;
}

} // namespace

TJoinThread::TJoinThread(bool) {
    connect(this, &QThread::finished, this, &QObject::deleteLater); // frees itself
}

TJoinThread::~TJoinThread() {
    wait();
}

void TJoinThread::Prepare() {
    const bool tags = OutputForm->ui->CheckBoxTags->isChecked();
    request_.inputs = ListInputs(MainForm->ui->ListView1, tags);
    request_.metadata = ListMetadata(tags);
    request_.target = {OutSampleRate, OutChannels, OutBits};
    request_.output = WizardSettings();
    request_.tempPcmPath = QFile::encodeName(TempFileName).toStdString();
    request_.makeEncoder = &tandrel::MakeEncoderSink;
    tandrel::InterruptWrites(false);

    Ui::TProcessForm *p = ProcessForm->ui;
    connect(this, &TJoinThread::LabelChanged, p->Label1, &QLabel::setText, Qt::QueuedConnection);
    connect(this, &TJoinThread::Progress1Changed, p->ProgressBar1, &QProgressBar::setValue,
            Qt::QueuedConnection);
    connect(this, &TJoinThread::Progress2Changed, p->ProgressBar2, &QProgressBar::setValue,
            Qt::QueuedConnection);
    connect(this, &TJoinThread::JoinEnded, ProcessForm, &TProcessForm::JoinEnded,
            Qt::QueuedConnection);
    connect(this, &TJoinThread::JoinEnded, MainForm, qOverload<>(&QWidget::update),
            Qt::QueuedConnection);
}

void TJoinThread::Stop() {
    requestInterruption();
    tandrel::InterruptWrites(true);
}

void TJoinThread::run() {
    JoinFiles();
}

void TJoinThread::JoinFiles() {
    DialogProgress progress(*this);
    const bool failed = tandrel::RunJoin(request_, progress) == tandrel::JoinStatus::Failed;
    emit JoinEnded(failed);
}
