// The join runs off the window's thread: a stalled output, a busy window and the engine's
// messages each meet the other side without freezing it.
#include <QtTest>

#include <QTreeWidget>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "ProgramWindows.h"
#include "TestUtil.h"
#include "WizardAnswers.h"
#include "common/Messages.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/Forms.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

using testutil::Quote;
using testutil::Run;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

// Passes the engine's messages on to the window's bridge, noting the thread that asked and
// the answer it got back.
class AskingThreads : public tandrel::MessageSink {
public:
    AskingThreads() : bridge_(tandrel::SetMessages(this)) {}
    ~AskingThreads() override { tandrel::SetMessages(bridge_); }
    tandrel::MsgAnswer Show(const std::string &caption, const std::string &text,
                            tandrel::MsgIcon icon, tandrel::MsgButtons buttons) override {
        threads << QThread::currentThread();
        answers << bridge_->Show(caption, text, icon, buttons);
        return answers.last();
    }
    QList<QThread *> threads;
    QList<tandrel::MsgAnswer> answers;

private:
    tandrel::MessageSink *bridge_;
};

// The dialog seam, also noting the thread each box is shown on.
class ThreadRecordingDialogs : public RecordingDialogs {
public:
    QMessageBox::StandardButton MessageBox(QWidget *owner, const QString &caption,
                                           const QString &text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) override {
        threads << QThread::currentThread();
        return RecordingDialogs::MessageBox(owner, caption, text, icon, buttons);
    }
    QList<QThread *> threads;
};

// Bytes waiting in a pipe.
int Pending(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

} // namespace

class JoinThreadTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    TempDir *tmp_ = nullptr;
    ProgramWindows *program_ = nullptr;
    ThreadRecordingDialogs *dialogs_ = nullptr;

    std::string D(const std::string &name) { return dir_->File(name); }
    QString Q(const std::string &name) { return QString::fromStdString(D(name)); }
    void Add(QStringList names) {
        for (QString &n : names)
            n = Q(n.toStdString());
        MainForm->AddFiles(names);
    }
    QStringList TempLeftovers() { return FilesIn(tmp_->Path()); }

private slots:
    void initTestCase() {
        dir_ = new TempDir;
        MakeProgramFolder(*dir_, "English.ini",
                          "[Common]\nMessage=Msg\n[Join]\nComplete=Done\n[OutputForm]\nNext=Next\n"
                          "Join=Join\n");
        auto ok = [](const std::string &cmd) { QCOMPARE(Run(cmd).exitCode, 0); };
        ok("sox -n -r 44100 -c 2 -b 16 " + Quote(D("a.wav")) + " synth 1.5 sine 440");
        ok("sox -n -r 44100 -c 2 -b 16 " + Quote(D("b.wav")) + " synth 2.25 sine 660");
        ok("sox -n -r 44100 -c 2 -b 16 " + Quote(D("long.wav")) + " trim 0 120");
    }
    void cleanupTestCase() { delete dir_; }
    void init() {
        tmp_ = new TempDir;
        qputenv("TMPDIR", QByteArray::fromStdString(tmp_->Path()));
        program_ = new ProgramWindows(dir_->Path());
        dialogs_ = new ThreadRecordingDialogs;
    }
    void cleanup() {
        delete dialogs_;
        delete program_;
        qunsetenv("TMPDIR");
        delete tmp_;
    }

    void cancelEndsAJoinIntoAFifoWhoseReaderReadsNothing_data() {
        QTest::addColumn<int>("format");
        QTest::newRow("wav") << 0;
        QTest::newRow("mp3") << 1;
        QTest::newRow("wma") << 2;
    }
    void cancelEndsAJoinIntoAFifoWhoseReaderReadsNothing() {
        QFETCH(int, format);
        Add({"long.wav", "long.wav"});
        const std::string fifo = D("out.fifo");
        ::unlink(fifo.c_str());
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        // A reader that is there but never reads: the pipe fills and the join's write waits.
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        // A writer of our own that asks whether the pipe has room: small writes leave its
        // pages part-filled, so it is full before it holds 64 KB.
        const int probe = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(probe >= 0);
        // Should the window not hear Cancel, the pipe is emptied a while after it (or after
        // 30 s without it) so that the test ends, and fails on the time Cancel took.
        std::atomic<bool> joinReturned{false};
        std::atomic<qint64> rescueAt{30000};
        QElapsedTimer clock;
        clock.start();
        std::thread rescue([&] {
            while (!joinReturned && clock.elapsed() < rescueAt)
                QThread::msleep(20);
            char buf[65536];
            while (!joinReturned) {
                pollfd p{reader, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0 && ::read(reader, buf, sizeof buf) <= 0)
                    QThread::msleep(20);
            }
        });
        QRadioButton *Ui::TOutputForm::*const radios[] = {
            &Ui::TOutputForm::RadioWAV, &Ui::TOutputForm::RadioMP3, &Ui::TOutputForm::RadioWMA};
        AnswerWizard(radios[format], QString::fromStdString(fifo));
        QElapsedTimer sinceCancel;
        QTimer full;
        connect(&full, &QTimer::timeout, [&] {
            pollfd room{probe, POLLOUT, 0};
            if (sinceCancel.isValid() || Pending(reader) == 0 || ::poll(&room, 1, 0) != 0)
                return;
            QThread::msleep(200); // the join is now waiting in its write
            sinceCancel.start();
            rescueAt = clock.elapsed() + 3000;
            ProcessForm->ui->ButtonCancel->click();
        });
        full.start(20);
        MainForm->ButtonJoinClick();
        const qint64 cancelTook = sinceCancel.isValid() ? sinceCancel.elapsed() : -1;
        joinReturned = true;
        rescue.join();
        ::close(probe);
        ::close(reader);
        QVERIFY2(cancelTook >= 0, "Cancel was never clicked: the window's thread was held");
        QVERIFY2(cancelTook < 1000, qPrintable(QString::number(cancelTook) + " ms"));
        QCOMPARE(ProcessForm->result(), TProcessForm::ResultCancelled);
        QVERIFY(ProcessForm->isHidden());
        QCOMPARE(dialogs_->Texts(), QStringList()); // a stop is no failure
        QVERIFY(TempLeftovers().isEmpty());
    }

    void theJoinGoesOnWhileTheWindowsThreadIsBusy() {
        Add({"long.wav", "long.wav"});
        const QString out = Q("busy.mp3"); // encoding takes a few seconds
        AnswerWizard(&Ui::TOutputForm::RadioMP3, out);
        // Every turn of the window's event loop is held for 200 ms; between them the bars
        // are looked at.
        QList<int> seen;
        bool endedWhileHeld = false;
        QElapsedTimer held;
        QTimer busy;
        connect(&busy, &QTimer::timeout, [&] {
            if (!ProcessForm->isVisible())
                return;
            if (!held.isValid())
                held.start();
            if (held.elapsed() > 10000)
                return busy.stop();
            seen << ProcessForm->ui->ProgressBar1->value() +
                        1000 * ProcessForm->ui->ProgressBar2->value();
            QThread::msleep(200);
            endedWhileHeld = endedWhileHeld || QFileInfo::exists(out);
        });
        busy.start(0);
        MainForm->ButtonJoinClick();
        busy.stop();
        QVERIFY2(endedWhileHeld, "the join waited for the window's thread");
        const QSet<int> distinct(seen.begin(), seen.end());
        QString shown;
        for (int v : seen)
            shown += QString(" %1/%2").arg(v % 1000).arg(v / 1000);
        QVERIFY2(distinct.size() >= 2, qPrintable("the bars stood still:" + shown));
        QCOMPARE(ProcessForm->ui->ProgressBar2->value(), 100);
        QCOMPARE(dialogs_->Texts(), QStringList{"Done"});
        QVERIFY(TempLeftovers().isEmpty());
    }

    void aMessageOfTheJoinIsShownOnTheWindowsThreadAndAnsweredToTheJoin() {
        QFile::copy(Q("b.wav"), Q("cut.wav"));
        Add({"a.wav", "cut.wav"});
        QVERIFY(::truncate(D("cut.wav").c_str(), 1000) == 0);
        AskingThreads asking;
        dialogs_->answers << QMessageBox::Cancel; // any answer of the box's own travels back
        AnswerWizard(&Ui::TOutputForm::RadioWAV, Q("never.wav"));
        MainForm->ButtonJoinClick();
        QCOMPARE(dialogs_->boxes.size(), 1);
        QCOMPARE(dialogs_->boxes[0].caption, QString("Error"));
        QCOMPARE(dialogs_->threads, QList<QThread *>{qApp->thread()});
        QCOMPARE(asking.threads.size(), 1);
        QVERIFY2(asking.threads[0] != qApp->thread(), "the join asked from the window's thread");
        QCOMPARE(asking.answers, QList<tandrel::MsgAnswer>{tandrel::MsgAnswer::Cancel});
        QVERIFY(ProcessForm->JoinFailed);
        QVERIFY(!QFileInfo::exists(Q("never.wav")));
    }
};

QTEST_MAIN(JoinThreadTest)
#include "JoinThreadTest.moc"
