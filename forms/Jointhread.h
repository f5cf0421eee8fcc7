#pragma once

#include <QString>
#include <QThread>

// One join. Its body hands JoinFiles to the user-interface thread and waits; the object
// deletes itself when the body has ended. The stop request is the thread's interruption
// request, set by the progress dialog's Cancel.
class TJoinThread : public QThread {
    Q_OBJECT
public:
    // The thread starts only when start() is called, as a suspended one would on resume.
    explicit TJoinThread(bool CreateSuspended);
    ~TJoinThread() override;

    QString TempFileName;
    qint32 OutSampleRate = 0;
    qint32 OutChannels = 0;
    qint32 OutBits = 0;

    // The join: reads the list and the wizard, drives the progress dialog.
    void JoinFiles();

protected:
    void run() override;
};
