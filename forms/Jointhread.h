#pragma once

#include <QString>
#include <QThread>

#include "join/JoinPipeline.h"

// One join, run on this thread. Prepare reads the list and the wizard on the window's thread
// before start(); labels, progress and the join's end reach the progress dialog through queued
// signals, and the engine's messages are shown on the window's thread while the join waits for
// the answer. The object deletes itself when the thread has finished.
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

    // Takes the join's inputs and settings and ties the signals to the progress dialog.
    void Prepare();
    // The stop request, from any thread: the join stops after its current block, and a write
    // waiting for a pipe or device to take its bytes gives up.
    void Stop();
    // The join itself, on this thread.
    void JoinFiles();
    // What Prepare took.
    const tandrel::JoinRequest &Request() const { return request_; }

signals:
    void LabelChanged(const QString &text);
    void Progress1Changed(int percent);
    void Progress2Changed(int percent);
    void JoinEnded(bool failed);

protected:
    void run() override;

private:
    tandrel::JoinRequest request_;
};
