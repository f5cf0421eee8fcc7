#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTreeWidget>

#include <unistd.h>

#include "ProgramWindows.h"
#include "TestUtil.h"
#include "ToneFiles.h"
#include "WizardAnswers.h"
#include "forms/AppPaths.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/Forms.h"
#include "forms/Jointhread.h"
#include "lang/IniFile.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

using testutil::ProbeDuration;
using testutil::ProbeStreamField;
using testutil::Quote;
using testutil::ReadFile;
using testutil::Run;
using testutil::TempDir;
using testutil::WriteFile;

class JoinTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    TempDir *tmp_ = nullptr;
    ProgramWindows *program_ = nullptr;
    RecordingDialogs *dialogs_ = nullptr;

    std::string D(const std::string &name) { return dir_->File(name); }
    QString Q(const std::string &name) { return QString::fromStdString(D(name)); }
    void Add(QStringList names) {
        for (QString &n : names)
            n = Q(n.toStdString());
        MainForm->AddFiles(names);
    }
    QStringList TempLeftovers() { return FilesIn(tmp_->Path()); }
    std::string DataChunk(const std::string &wav) { return ReadFile(wav).substr(44); }
    // book.mp3 (title Opening, album Book, a cover), given the album Second after it was added,
    // then b.wav.
    void AddBookRetaggedSinceAndAWav() {
        const std::string book = D("book.mp3");
        QFile::remove(QString::fromStdString(book));
        QVERIFY(QFile::copy(Q("tagged.mp3"), QString::fromStdString(book)));
        Add({"book.mp3"});
        Add({"b.wav"});
        QCOMPARE(Run("ffmpeg -v error -y -i " + Quote(book) +
                     " -map 0 -c copy -metadata album=Second -id3v2_version 3 " +
                     Quote(D("retagged.mp3")) + " && mv " + Quote(D("retagged.mp3")) + " " +
                     Quote(book))
                     .exitCode,
                 0);
    }

private slots:
    void initTestCase() {
        dir_ = new TempDir;
        QDir().mkpath(Q("TDLanguage"));
        WriteFile(
            D("TDLanguage/English.ini"),
            "[Common]\nMessage=Msg\n[Join]\nComplete=Done\n[OutputForm]\nNext=Next\nJoin=Join\n");
        WriteFile(D("Tandrel.ini"), "[General]\nLanguage=English.ini\n");
        auto ok = [](const std::string &cmd) { QCOMPARE(Run(cmd).exitCode, 0); };
        ok("sox -n -r 44100 -c 2 -b 16 " + Quote(D("a.wav")) + " synth 1.5 sine 440");
        ok("sox -n -r 44100 -c 2 -b 16 " + Quote(D("b.wav")) + " synth 2.25 sine 660");
        ok("sox -n -r 22050 -c 1 -b 8 " + Quote(D("c8.wav")) + " synth 1 sine 300");
        ok("lame --quiet -b 128 " + Quote(D("a.wav")) + " " + Quote(D("d.mp3")));
        ok("ffmpeg -v error -y -i " + Quote(D("b.wav")) + " -c:a wmav2 " + Quote(D("e.wma")));
        ok("sox -n -r 44100 -c 2 -b 16 " + Quote(D("long.wav")) + " trim 0 120");
        ok("sox -n -r 48000 -c 2 -b 24 " + Quote(D("s24.wav")) + " synth 1.25 sine 500");
        ok("ffmpeg -v error -y -i " + Quote(D("s24.wav")) + " -c:a flac " + Quote(D("f24.flac")));
        ok("ffmpeg -v error -y -f lavfi -i color=red:s=8x8 -frames:v 1 " + Quote(D("cover.png")));
        ok("lame --quiet -b 128 --tt Opening --ta Ann --tl Book --ti " + Quote(D("cover.png")) +
           " " + Quote(D("a.wav")) + " " + Quote(D("tagged.mp3")));
        QVERIFY(!ToneMp3(*dir_, "tone1", 4, 44100).empty());
        QVERIFY(!ToneMp3(*dir_, "tone2", 5, 44100).empty());
    }
    void cleanupTestCase() { delete dir_; }
    void init() {
        tmp_ = new TempDir;
        qputenv("TMPDIR", QByteArray::fromStdString(tmp_->Path()));
        program_ = new ProgramWindows(dir_->Path());
        dialogs_ = &program_->dialogs;
    }
    void cleanup() {
        delete program_;
        qunsetenv("TMPDIR");
        delete tmp_;
    }

    void fewerThanTwoRowsOrACancelledWizardStartNothing() {
        Add({"a.wav"});
        bool wizardShown = false;
        QTimer::singleShot(0, [&] { wizardShown = OutputForm->isVisible(); });
        MainForm->ButtonJoinClick();
        QCoreApplication::processEvents();
        QVERIFY(!wizardShown);
        Add({"b.wav"});
        QTimer::singleShot(0, [] { OutputForm->ui->ButtonCancel->click(); });
        MainForm->ButtonJoinClick();
        QVERIFY(dialogs_->boxes.isEmpty());
        QVERIFY(TempLeftovers().isEmpty());
    }

    void sameFormatWavJoinIsTheDataChunksEnd2End() {
        Add({"a.wav", "b.wav"});
        const QString out = Q("joined.wav");
        AnswerWizard(&Ui::TOutputForm::RadioWAV, out);
        MainForm->ButtonJoinClick();
        QCOMPARE(dialogs_->Texts(), QStringList{"Done"});
        QCOMPARE(dialogs_->boxes[0].caption, QString("Msg"));
        QVERIFY(DataChunk(out.toStdString()) == DataChunk(D("a.wav")) + DataChunk(D("b.wav")));
        QCOMPARE(ProcessForm->ui->ProgressBar2->value(), 100);
        QVERIFY(TempLeftovers().isEmpty());
    }

    void mixedListToMp3AndWma() {
        Add({"c8.wav", "d.mp3", "e.wma", "a.wav"}); // 1 + 1.5 + 2.25 + 1.5 s
        const double total = 6.25;
        AnswerWizard(&Ui::TOutputForm::RadioMP3, Q("mixed.mp3"));
        MainForm->ButtonJoinClick();
        QCOMPARE(dialogs_->Texts(), QStringList{"Done"});
        QCOMPARE(ProbeStreamField(D("mixed.mp3"), "codec_name"), std::string("mp3"));
        QCOMPARE(ProbeStreamField(D("mixed.mp3"), "channels"), std::string("2"));
        QVERIFY(std::abs(ProbeDuration(D("mixed.mp3")) - total) < 0.12);

        AnswerWizard(&Ui::TOutputForm::RadioWMA, Q("mixed.wma"));
        MainForm->ButtonJoinClick();
        QCOMPARE(dialogs_->Texts(), QStringList({"Done", "Done"}));
        QCOMPARE(ProbeStreamField(D("mixed.wma"), "codec_name"), std::string("wmav2"));
        QVERIFY(std::abs(ProbeDuration(D("mixed.wma")) - total) < 0.2);
        QVERIFY(TempLeftovers().isEmpty());
    }

    // A 24-bit FLAC and the WAV it was made from join at 24 bits, both bit for bit.
    void losslessInputsKeepTheirDepthAndSamples() {
        Add({"f24.flac", "s24.wav"});
        AnswerWizard(&Ui::TOutputForm::RadioWAV, Q("lossless.wav"));
        MainForm->ButtonJoinClick();
        QCOMPARE(dialogs_->Texts(), QStringList{"Done"});
        QCOMPARE(ProbeStreamField(D("lossless.wav"), "bits_per_sample"), std::string("24"));
        auto raw = [&](const std::string &from, const std::string &to) {
            QCOMPARE(Run("ffmpeg -v error -y -i " + Quote(D(from)) + " -f s24le " + Quote(D(to)))
                         .exitCode,
                     0);
        };
        raw("s24.wav", "s24.raw");
        raw("lossless.wav", "lossless.raw");
        const std::string samples = ReadFile(D("s24.raw"));
        QVERIFY(!samples.empty());
        QVERIFY(ReadFile(D("lossless.raw")) == samples + samples);
    }

    void cancelStopsTheJoinWithoutTheCompletionMessage() {
        Add({"long.wav", "long.wav"});
        AnswerWizard(&Ui::TOutputForm::RadioMP3, Q("cancelled.mp3"));
        QTimer::singleShot(300, [] { ProcessForm->ui->ButtonCancel->click(); });
        QElapsedTimer timer;
        timer.start();
        MainForm->ButtonJoinClick();
        QVERIFY(timer.elapsed() < 5000); // encoding all of it would take far longer
        QCOMPARE(ProcessForm->result(), TProcessForm::ResultCancelled);
        QVERIFY(dialogs_->boxes.isEmpty());
        QVERIFY(TempLeftovers().isEmpty());
    }

    void anInputCutShortSinceItWasAddedFailsTheJoin() {
        QFile::copy(Q("b.wav"), Q("cut.wav"));
        Add({"a.wav", "cut.wav"});
        QVERIFY(::truncate(D("cut.wav").c_str(), 1000) == 0);
        WriteFile(D("keep2.wav"), "old contents");
        AnswerWizard(&Ui::TOutputForm::RadioWAV, Q("keep2.wav"));
        MainForm->ButtonJoinClick();
        QCOMPARE(dialogs_->boxes.size(), 1);
        QCOMPARE(dialogs_->boxes[0].caption, QString("Error"));
        QVERIFY(dialogs_->Texts()[0].startsWith("Can not join '" + Q("cut.wav") +
                                                "': it ended after 956 of the 396900 bytes"));
        QVERIFY(ProcessForm->JoinFailed);
        QCOMPARE(ReadFile(D("keep2.wav")), std::string("old contents"));
        QVERIFY(TempLeftovers().isEmpty());
    }

    // Checked, the join takes the first row's album tags and cover as the file has them when
    // the join starts, and a chapter per row titled by its title tag, else its file name.
    // Unchecked, it takes nothing.
    void theTagsBoxAsksForTheFirstRowsTagsAndAChapterPerRow() {
        AddBookRetaggedSinceAndAWav();
        const auto prepared = [](bool tags) {
            Ui::TOutputForm *w = OutputForm->ui;
            w->RadioWAV->setChecked(true);
            w->EditOutputFile->setText("/nonexistent-dir/out.wav");
            w->CheckBoxTags->setChecked(tags);
            auto *thread = new TJoinThread(true); // never started
            thread->Prepare();
            const tandrel::JoinRequest request = thread->Request();
            delete thread;
            return request;
        };
        const tandrel::JoinRequest off = prepared(false);
        QVERIFY(off.metadata.Empty());
        QCOMPARE(off.inputs.size(), 2u);
        QVERIFY(off.inputs[0].title.empty() && off.inputs[1].title.empty());

        const tandrel::JoinRequest on = prepared(true);
        QVERIFY(on.metadata.writeChapters);
        QCOMPARE(on.metadata.Tag("album"), std::string("Second"));
        QCOMPARE(on.metadata.Tag("title"), std::string("Second"));
        QCOMPARE(on.metadata.Tag("artist"), std::string("Ann"));
        QCOMPARE(on.metadata.pictures.size(), 1u);
        QCOMPARE(on.metadata.pictures[0].data.size(),
                 std::size_t(QFileInfo(Q("cover.png")).size()));
        QCOMPARE(on.inputs[0].title, std::string("Opening"));
        QCOMPARE(on.inputs[1].title, std::string("b"));
    }

    // The wizard opened by Join weighs the list as it stands, and the join is asked to keep the
    // frames exactly when the box is checked.
    void theFramesBoxFollowsTheListAndReachesTheJoin() {
        Ui::TOutputForm *w = OutputForm->ui;
        const auto openWizardOnMp3Page = [w] {
            bool enabled = false;
            QString why;
            QTimer::singleShot(0, [&] {
                w->RadioMP3->setChecked(true);
                w->ButtonNext->click();
                enabled = w->CheckBoxMP3Copy->isEnabled();
                why = w->CheckBoxMP3Copy->toolTip();
                w->ButtonCancel->click();
            });
            MainForm->ButtonJoinClick();
            return std::make_pair(enabled, why);
        };
        const auto prepared = [w](bool keep) {
            w->RadioMP3->setChecked(true);
            w->EditOutputFile->setText("/nonexistent-dir/out.mp3");
            w->CheckBoxMP3Copy->setChecked(keep);
            auto *thread = new TJoinThread(true); // never started
            thread->Prepare();
            const tandrel::OutputSettings output = thread->Request().output;
            delete thread;
            return output;
        };
        Add({"tone1.mp3", "tone2.mp3"});
        QCOMPARE(openWizardOnMp3Page(), std::make_pair(true, QString()));
        QVERIFY(prepared(true).mp3Copy);
        QVERIFY(!prepared(false).mp3Copy);
        QCOMPARE(prepared(true).kind, tandrel::OutputKind::Mp3);

        Add({"a.wav"});
        QCOMPARE(openWizardOnMp3Page(),
                 std::make_pair(false, "'" + Q("a.wav") + "' is not an MP3 file"));
        QVERIFY(!w->CheckBoxMP3Copy->isChecked());
        QVERIFY(dialogs_->boxes.isEmpty());
    }

    // With the frames box checked the join copies the MP3 frames: the middle of each input is
    // in the output byte for byte, and the output plays as long as the two.
    void aJoinWithTheFramesBoxKeepsTheFrames() {
        Add({"tone1.mp3", "tone2.mp3"});
        QTimer::singleShot(0, [this] {
            Ui::TOutputForm *w = OutputForm->ui;
            w->RadioMP3->setChecked(true);
            w->ButtonNext->click();
            w->CheckBoxMP3Copy->setChecked(true);
            w->ButtonNext->click();
            w->EditOutputFile->setText(Q("kept.mp3"));
            w->ButtonNext->click();
        });
        MainForm->ButtonJoinClick();
        QCOMPARE(dialogs_->Texts(), QStringList{"Done"});
        const std::string out = ReadFile(D("kept.mp3"));
        for (const char *name : {"tone1.mp3", "tone2.mp3"}) {
            const std::string in = ReadFile(D(name));
            QVERIFY(in.size() > 40000);
            QVERIFY2(out.find(in.substr(in.size() / 2, 16000)) != std::string::npos, name);
        }
        QVERIFY(std::abs(ProbeDuration(D("kept.mp3")) - 9.0) < 0.05);
        QVERIFY(TempLeftovers().isEmpty());
    }

    void aJoinWithTheTagsBoxHasTheChaptersAndTags_data() {
        QTest::addColumn<QString>("extension");
        QTest::newRow("mp3") << "mp3";
        QTest::newRow("wav") << "wav";
    }
    void aJoinWithTheTagsBoxHasTheChaptersAndTags() {
        QFETCH(QString, extension);
        const QString output = Q("book-joined.") + extension;
        AddBookRetaggedSinceAndAWav();
        QTimer::singleShot(0, [=] {
            Ui::TOutputForm *w = OutputForm->ui;
            (extension == "wav" ? w->RadioWAV : w->RadioMP3)->setChecked(true);
            w->ButtonNext->click();
            if (w->PageControl1->currentIndex() != 3)
                w->ButtonNext->click();
            w->EditOutputFile->setText(output);
            w->CheckBoxTags->setChecked(true);
            w->ButtonNext->click();
        });
        MainForm->ButtonJoinClick();
        WriteFile(D("Tandrel.ini"), "[General]\nLanguage=English.ini\n"); // the box unchecked
        QCOMPARE(dialogs_->Texts(), QStringList{"Done"});
        const testutil::CommandResult probe =
            Run("ffprobe -v error -show_chapters -show_entries format_tags -of json " +
                Quote(output.toStdString()));
        QCOMPARE(probe.exitCode, 0);
        const QJsonObject json =
            QJsonDocument::fromJson(QByteArray::fromStdString(probe.output)).object();
        QStringList chapters;
        for (const QJsonValue &c : json["chapters"].toArray())
            chapters << c["tags"]["title"].toString() + '@' + c["start_time"].toString() + '-' +
                            c["end_time"].toString();
        QCOMPARE(chapters, QStringList({"Opening@0.000000-1.500000", "b@1.500000-3.750000"}));
        QCOMPARE(json["format"]["tags"]["album"].toString(), QString("Second"));
        QCOMPARE(json["format"]["tags"]["artist"].toString(), QString("Ann"));
    }

    void theSaveFolderIsRememberedOnlyAfterASuccessfulJoin() {
        auto stored = [this] {
            return tandrel::IniFile(D("Tandrel.ini")).ReadString("Folders", "OutputFile", "");
        };
        // Chosen in the Save dialog; the folder is gone before the join starts.
        auto joinBySaving = [this](const QString &chosen, const QString &dropFolder) {
            dialogs_->saveAnswers << chosen;
            QTimer::singleShot(0, [=] {
                Ui::TOutputForm *w = OutputForm->ui;
                w->RadioWAV->setChecked(true);
                w->ButtonNext->click();
                w->ButtonSave->click();
                if (!dropFolder.isEmpty())
                    QDir(dropFolder).removeRecursively();
                w->ButtonNext->click();
            });
            MainForm->ButtonJoinClick();
        };
        WriteFile(D("Tandrel.ini"), "[General]\nLanguage=English.ini\n"); // earlier joins' gone
        Add({"a.wav", "b.wav"});
        QVERIFY(QDir().mkpath(Q("failed")));
        joinBySaving(Q("failed/out.wav"), Q("failed"));
        QVERIFY(ProcessForm->JoinFailed);
        QCOMPARE(stored(), std::string());

        QVERIFY(QDir().mkpath(Q("done")));
        joinBySaving(Q("done/out.wav"), QString());
        QVERIFY(!ProcessForm->JoinFailed);
        QCOMPARE(stored(), D("done"));
    }
};

QTEST_MAIN(JoinTest)
#include "JoinTest.moc"
