// Starting a join.
#include <QPointer>
#include <QTreeWidget>

#include "forms/AudioFileEntry.h"
#include "forms/Dialogs.h"
#include "forms/Folders.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/Forms.h"
#include "forms/Jointhread.h"
#include "forms/ListInputs.h"
#include "join/JoinPipeline.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"

void TMainForm::ButtonJoinClick() {
    QTreeWidget *list = ui->ListView1;
    if (list->topLevelItemCount() < 2)
        return;
    OutputForm->CheckKeepFrames(ListInputs(list, false));
    if (OutputForm->exec() != QDialog::Accepted)
        return;
    const QString output = OutputForm->ui->EditOutputFile->text();

    QPointer<TJoinThread> thread = new TJoinThread(true);
    thread->TempFileName = TempPcmPath;
    std::vector<tandrel::PcmFormat> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = list->topLevelItem(i);
        rows.push_back({SubItem(row, 6).toInt(), SubItem(row, 7).toInt(), SubItem(row, 8).toInt()});
    }
    const tandrel::PcmFormat target = tandrel::ComputeTargetFormat(rows);
    thread->OutSampleRate = target.sampleRate;
    thread->OutChannels = target.channels;
    thread->OutBits = target.bits;

    ProcessForm->StopRequest = [thread] {
        if (thread)
            thread->Stop();
    };
    ProcessForm->JoinFailed = false;
    ProcessForm->Reset();
    thread->Prepare();
    thread->start();
    const int result = ProcessForm->exec();
    ProcessForm->StopRequest = nullptr;
    // Only the join's end closes the dialog: what is left of the thread ends at once.
    if (thread)
        thread->wait();
    if (result == TProcessForm::ResultCancelled || ProcessForm->JoinFailed)
        return;
    RememberFolder(kOutputFileFolderKey, output);
    Dialogs().MessageBox(nullptr, Text("Common", "Message"), Text("Join", "Complete"),
                         QMessageBox::Information, QMessageBox::Ok);
}
