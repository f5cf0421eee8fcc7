#include <QtTest>

#include "RecordingDialogs.h"
#include "TestHome.h"
#include "TestUtil.h"
#include "ToneFiles.h"
#include "audio/Decoding.h"
#include "forms/AppPaths.h"
#include "forms/Folders.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "lang/IniFile.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

using tandrel::InputReader;
using tandrel::JoinInput;
using testutil::TempDir;
using testutil::WriteFile;

class WizardTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr; // the program's folder, holding its settings file
    TOutputForm *form_ = nullptr;
    RecordingDialogs *dialogs_ = nullptr;
    Ui::TOutputForm *ui() { return form_->ui; }
    int Page() { return ui()->PageControl1->currentIndex(); }

    // Lists made once: two MP3s of one rate, long enough to keep their frames; an MP3 and one
    // of another rate; an MP3 and a wave file.
    TempDir *audio_ = nullptr;
    std::string mp3a_, mp3b_, mp3At48_, wav_;
    std::vector<JoinInput> oneRate_, twoRates_, withWav_;

    QCheckBox *FramesBox() { return ui()->CheckBoxMP3Copy; }
    QList<QWidget *> EncodingChoices() {
        return {ui()->ComboBoxMP3Bitrate, ui()->CheckBoxMP3CRC, ui()->CheckBoxMP3Copyright,
                ui()->CheckBoxMP3Original, ui()->CheckBoxMP3Private};
    }
    // Shows a wizard of a new run for the list and goes on to the MP3 page.
    void ShowMp3PageFor(const std::vector<JoinInput> &list) {
        NewForm();
        form_->CheckKeepFrames(list);
        form_->show();
        form_->ButtonNextClick();
        QCOMPARE(Page(), 1);
    }
    // From the MP3 page on: an output file, then Join.
    void JoinFromMp3Page() {
        form_->ButtonNextClick();
        ui()->EditOutputFile->setText("/tmp/out.mp3");
        form_->ButtonNextClick();
        QCOMPARE(form_->result(), int(QDialog::Accepted));
    }
    std::string StoredFramesChoice() {
        return tandrel::IniFile(dir_->File("Tandrel.ini"))
            .ReadString("Output", "KeepMp3Frames", "");
    }

private slots:
    void initTestCase() {
        QVERIFY(tandrel::InitDecoding()); // as the main window does at start-up
        audio_ = new TempDir;
        mp3a_ = ToneMp3(*audio_, "a", 5, 44100);
        mp3b_ = ToneMp3(*audio_, "b", 4, 44100);
        mp3At48_ = ToneMp3(*audio_, "c", 4, 48000);
        QVERIFY(!mp3a_.empty() && !mp3b_.empty() && !mp3At48_.empty());
        wav_ = audio_->File("b.wav");
        oneRate_ = {ListedInput(mp3a_, 44100, InputReader::Mp3),
                    ListedInput(mp3b_, 44100, InputReader::Mp3)};
        twoRates_ = {ListedInput(mp3a_, 44100, InputReader::Mp3),
                     ListedInput(mp3At48_, 48000, InputReader::Mp3)};
        withWav_ = {ListedInput(mp3a_, 44100, InputReader::Mp3),
                    ListedInput(wav_, 44100, InputReader::Wav)};
    }
    void cleanupTestCase() {
        delete audio_;
        tandrel::EndDecoding();
    }
    void init() {
        dir_ = new TempDir;
        // A portable program folder: its settings file lies in it.
        QDir().mkpath(QString::fromStdString(dir_->File("TDLanguage")));
        SetExecutableFolderForTesting(QString::fromStdString(dir_->Path()));
        dialogs_ = new RecordingDialogs;
        NewForm();
    }
    void NewForm() {
        delete form_;
        form_ = new TOutputForm;
        form_->NextCaption = "Next";
        form_->JoinCaption = "Join";
        form_->MessageCaption = "Message";
        form_->QuestionText = "Replace?";
        form_->WavFilterText = "WAV|*.wav";
        form_->Mp3FilterText = "MP3|*.mp3";
        form_->WmaFilterText = "WMA|*.wma";
    }
    void cleanup() {
        delete form_;
        form_ = nullptr;
        delete dialogs_;
        SetExecutableFolderForTesting(QString());
        delete dir_;
    }

    void everyShowingStartsFromTheDefaults() {
        form_->show();
        ui()->RadioWAV->setChecked(true);
        ui()->ComboBoxMP3Bitrate->setCurrentIndex(0);
        ui()->CheckBoxMP3CRC->setChecked(true);
        ui()->ComboBoxWMABitrate->setCurrentIndex(5);
        ui()->EditOutputFile->setText("/tmp/x.wav");
        ui()->PageControl1->setCurrentIndex(3);
        form_->hide();
        form_->show();
        QVERIFY(ui()->RadioMP3->isChecked());
        QCOMPARE(ui()->ComboBoxMP3Bitrate->currentText(), QString("128 kbps"));
        QVERIFY(!ui()->CheckBoxMP3CRC->isChecked());
        QCOMPARE(ui()->ComboBoxWMABitrate->currentText(), QString("96 kbps"));
        QCOMPARE(ui()->EditOutputFile->text(), QString());
        QCOMPARE(Page(), 0);
        QVERIFY(ui()->ButtonBack->isHidden());
        QCOMPARE(ui()->ButtonNext->text(), QString("Next"));
    }

    // Off at first; kept, also for a later run, when the wizard ends with Join, not on Cancel.
    void theTagsBoxIsRememberedByJoinOnly() {
        const auto showAndJoin = [this](bool tags) {
            form_->show();
            ui()->CheckBoxTags->setChecked(tags);
            ui()->RadioWAV->setChecked(true);
            form_->ButtonNextClick();
            ui()->EditOutputFile->setText("/tmp/out.wav");
            form_->ButtonNextClick();
            QCOMPARE(form_->result(), int(QDialog::Accepted));
            NewForm(); // as in a new run
            form_->show();
        };
        form_->show();
        QVERIFY(!ui()->CheckBoxTags->isChecked());
        ui()->CheckBoxTags->setChecked(true);
        ui()->ButtonCancel->click();
        form_->show();
        QVERIFY(!ui()->CheckBoxTags->isChecked());
        showAndJoin(true);
        QVERIFY(ui()->CheckBoxTags->isChecked());
        QVERIFY(ui()->RadioMP3->isChecked()); // the rest starts from the defaults
        QCOMPARE(
            tandrel::IniFile(dir_->File("Tandrel.ini")).ReadString("Output", "TagsAndChapters", ""),
            std::string("1"));
        form_->hide();
        form_->show();
        QVERIFY(ui()->CheckBoxTags->isChecked());
        showAndJoin(false);
        QVERIFY(!ui()->CheckBoxTags->isChecked());
    }

    // Off, with the reason for the mouse and for a screen reader, unless the list allows it;
    // the page starts on the box whenever it can be used.
    void theFramesBoxIsOfferedOnlyForAListThatAllowsIt() {
        const auto q = [](const std::string &path) { return QString::fromStdString(path); };
        const struct {
            const std::vector<JoinInput> &list;
            QString why;
        } cases[] = {
            {withWav_, "'" + q(wav_) + "' is not an MP3 file"},
            {twoRates_, "'" + q(mp3At48_) + "' is at 48000 Hz and '" + q(mp3a_) + "' at 44100 Hz"},
            {oneRate_, QString()},
        };
        for (const auto &c : cases) {
            ShowMp3PageFor(c.list);
            QCOMPARE(FramesBox()->isEnabled(), c.why.isEmpty());
            QCOMPARE(FramesBox()->toolTip(), c.why);
            QCOMPARE(FramesBox()->accessibleDescription(), c.why);
            QCOMPARE(form_->focusWidget(), c.why.isEmpty() ? static_cast<QWidget *>(FramesBox())
                                                           : ui()->ComboBoxMP3Bitrate);
        }
        // A list that no longer allows it takes the reason back from the box.
        form_->CheckKeepFrames(twoRates_);
        form_->hide();
        form_->show();
        QVERIFY(!FramesBox()->isEnabled());
        QVERIFY(!FramesBox()->toolTip().isEmpty());
    }

    void keptFramesLeaveNoBitrateOrFlagsToChoose() {
        ShowMp3PageFor(oneRate_);
        FramesBox()->setChecked(true);
        for (QWidget *w : EncodingChoices())
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        FramesBox()->setChecked(false);
        for (QWidget *w : EncodingChoices())
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    }

    // Off at first; kept by Join, not by Cancel; offered checked again only to a list that
    // allows it, and a list that does not leaves the choice alone.
    void theFramesChoiceIsRememberedByJoinAndRestoredWhereAllowed() {
        ShowMp3PageFor(oneRate_);
        QVERIFY(!FramesBox()->isChecked());
        FramesBox()->setChecked(true);
        ui()->ButtonCancel->click();
        QCOMPARE(StoredFramesChoice(), std::string());
        ShowMp3PageFor(oneRate_);
        QVERIFY(!FramesBox()->isChecked());
        FramesBox()->setChecked(true);
        JoinFromMp3Page();
        QCOMPARE(StoredFramesChoice(), std::string("1"));

        ShowMp3PageFor(oneRate_);
        QVERIFY(FramesBox()->isChecked());
        QVERIFY(!ui()->ComboBoxMP3Bitrate->isEnabled());
        ShowMp3PageFor(withWav_);
        QVERIFY(!FramesBox()->isChecked());
        for (QWidget *w : EncodingChoices())
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        JoinFromMp3Page();
        QCOMPARE(StoredFramesChoice(), std::string("1"));

        ShowMp3PageFor(oneRate_);
        QVERIFY(FramesBox()->isChecked());
        FramesBox()->setChecked(false);
        JoinFromMp3Page();
        QCOMPARE(StoredFramesChoice(), std::string("0"));
        ShowMp3PageFor(oneRate_);
        QVERIFY(!FramesBox()->isChecked());
    }

    void pagesFollowTheFormat() {
        form_->show();
        form_->ButtonNextClick(); // MP3
        QCOMPARE(Page(), 1);
        QVERIFY(!ui()->ButtonBack->isHidden());
        form_->ButtonNextClick();
        QCOMPARE(Page(), 3);
        QCOMPARE(ui()->ButtonNext->text(), QString("Join"));
        QVERIFY(!ui()->ButtonNext->isEnabled()); // no output file yet
        form_->ButtonBackClick();
        QCOMPARE(Page(), 1);
        form_->ButtonBackClick();
        QCOMPARE(Page(), 0);

        ui()->RadioWMA->setChecked(true);
        form_->ButtonNextClick();
        QCOMPARE(Page(), 2);
        form_->ButtonBackClick();
        ui()->RadioWAV->setChecked(true);
        form_->ButtonNextClick();
        QCOMPARE(Page(), 3); // WAV has no settings page
        ui()->EditOutputFile->setText("/tmp/out.wav");
        QVERIFY(ui()->ButtonNext->isEnabled());
        form_->ButtonBackClick();
        QCOMPARE(Page(), 0);
        form_->ButtonNextClick();
        form_->ButtonNextClick();
        QCOMPARE(form_->result(), int(QDialog::Accepted));
    }

    void savedNamesGetTheFormatsExtension() {
        QCOMPARE(WithExtension("/a/song.mp3", ".wav"), QString("/a/song.mp3.wav"));
        QCOMPARE(WithExtension("/a/Song.WAV", ".wav"), QString("/a/Song.WAV"));
        QCOMPARE(WithExtension("/a/song", ".mp3"), QString("/a/song.mp3"));
        QCOMPARE(WithExtension("/a/x.MP3", ".mp3"), QString("/a/x.MP3"));

        form_->show();
        dialogs_->saveAnswers << "/nonexistent-dir/song";
        form_->ButtonSaveClick();
        QCOMPARE(ui()->EditOutputFile->text(), QString("/nonexistent-dir/song.mp3"));
        QCOMPARE(dialogs_->saveFilters, QStringList{"MP3|*.mp3"});
        dialogs_->saveFilters.clear();
        ui()->RadioWMA->setChecked(true);
        form_->ButtonSaveClick(); // cancelled: keeps the name
        QCOMPARE(ui()->EditOutputFile->text(), QString("/nonexistent-dir/song.mp3"));
        QCOMPARE(dialogs_->saveFilters, QStringList{"WMA|*.wma"});
    }

    void saveDialogOpensWhereTheLastFinishedJoinWent() {
        TestHome home(dir_->Path()); // no music folder: the home folder
        const QString out = QString::fromStdString(dir_->File("out"));
        QVERIFY(QDir().mkpath(out));
        form_->show();
        dialogs_->saveAnswers << out + "/song";
        form_->ButtonSaveClick(); // nothing stored
        form_->ButtonSaveClick(); // cancelled; in this showing the dialog opens beside the name
        NewForm();                // as in a new run: choosing alone stores nothing
        form_->show();
        form_->ButtonSaveClick();
        QCOMPARE(dialogs_->saveFolders, QStringList({home.home, out, home.home}));
        QCOMPARE(
            tandrel::IniFile(dir_->File("Tandrel.ini")).ReadString("Folders", "OutputFile", ""),
            std::string());

        RememberFolder(kOutputFileFolderKey, out + "/song.mp3"); // as a finished join does
        NewForm();
        form_->show();
        form_->ButtonSaveClick();
        QCOMPARE(dialogs_->saveFolders.last(), out);
        QVERIFY(QDir(out).removeRecursively());
        form_->ButtonSaveClick(); // that folder is gone
        QCOMPARE(dialogs_->saveFolders.last(), home.home);
    }

    void existingFilesAreOnlyReplacedWhenTheUserSaysSo() {
        TempDir dir;
        const QString existing = QString::fromStdString(dir.File("old.mp3"));
        WriteFile(existing.toStdString(), "x");
        form_->show();
        ui()->EditOutputFile->setText("/keep.mp3");

        dialogs_->saveAnswers << existing;
        dialogs_->answers << QMessageBox::Cancel;
        form_->ButtonSaveClick();
        QCOMPARE(ui()->EditOutputFile->text(), QString("/keep.mp3"));
        QCOMPARE(dialogs_->boxes.size(), 1);
        QCOMPARE(dialogs_->boxes[0].caption, QString("Message"));
        QCOMPARE(dialogs_->boxes[0].text, QString("Replace?"));
        QCOMPARE(dialogs_->boxes[0].icon, QMessageBox::Question);
        QVERIFY(dialogs_->boxes[0].owned);

        // No: the dialog opens again; Yes on the second name.
        dialogs_->saveAnswers << existing << existing;
        dialogs_->answers << QMessageBox::No << QMessageBox::Yes;
        form_->ButtonSaveClick();
        QCOMPARE(ui()->EditOutputFile->text(), existing);
        QCOMPARE(dialogs_->boxes.size(), 3);
    }

    void cancelSurvivesTheJoinsClosing() {
        TProcessForm process;
        int stops = 0;
        process.StopRequest = [&] { ++stops; };
        process.Reset();
        QTimer::singleShot(0, [&] { process.CloseByJoin(); });
        QCOMPARE(process.exec(), TProcessForm::ResultFinished);

        process.Reset();
        QTimer::singleShot(0, [&] {
            process.ui->ButtonCancel->click();
            QCOMPARE(stops, 1); // at the moment of the click
            QVERIFY(process.isVisible());
            process.CloseByJoin();
        });
        QCOMPARE(process.exec(), TProcessForm::ResultCancelled);
    }
};

QTEST_MAIN(WizardTest)
#include "WizardTest.moc"
