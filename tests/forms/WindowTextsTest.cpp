// The windows in each shipped language: toolbar captions that fit, error boxes in the language.
#include <QtTest>

#include <QFile>
#include <QFontMetrics>
#include <QToolButton>

#include "ProgramWindows.h"
#include "TestUtil.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Forms.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"

using testutil::Quote;
using testutil::Run;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const QString kShipped = QStringLiteral(TANDREL_LANG_DIR);
const QString kTagsBox = QStringLiteral("Copy tags and write a chapter for each file");
const QString kFramesBox = QStringLiteral("Keep the MP3 files' frames (no re-encoding)");
const QStringList kLanguages = {"English.ini", "German.ini",    "French.ini",     "Polish.ini",
                                "Russian.ini", "ChineseGB.ini", "ChineseBig5.ini"};

// A program folder holding every shipped language file, with language chosen.
void UseLanguage(const TempDir &dir, const QString &language) {
    const QString folder = QString::fromStdString(dir.File("TDLanguage/"));
    QDir().mkpath(folder);
    for (const QString &name : kLanguages)
        if (!QFile::exists(folder + name))
            QVERIFY(QFile::copy(kShipped + '/' + name, folder + name));
    WriteFile(dir.File("Tandrel.ini"), "[General]\nLanguage=" + language.toStdString() + "\n");
}

} // namespace

class WindowTextsTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    ProgramWindows *program_ = nullptr;

    QString Q(const std::string &name) { return QString::fromStdString(dir_->File(name)); }

    // Joins a.wav and b.wav to a WAV output through the wizard; the boxes shown.
    QList<RecordingDialogs::Box> JoinTo(const QString &output) {
        QStringList names = {Q("a.wav"), Q("b.wav")};
        MainForm->AddFiles(names);
        QTimer::singleShot(0, [=] {
            Ui::TOutputForm *w = OutputForm->ui;
            w->RadioWAV->setChecked(true);
            w->ButtonNext->click();
            w->EditOutputFile->setText(output);
            w->ButtonNext->click();
        });
        program_->dialogs.boxes.clear();
        MainForm->ButtonJoinClick();
        return program_->dialogs.boxes;
    }

    void Start(const QString &language) {
        delete program_;
        UseLanguage(*dir_, language);
        program_ = new ProgramWindows(dir_->Path());
    }

private slots:
    void initTestCase() {
        dir_ = new TempDir;
        for (const char *name : {"a.wav", "b.wav"})
            QCOMPARE(
                Run("sox -n -r 44100 -c 2 -b 16 " + Quote(dir_->File(name)) + " synth 0.5 sine 440")
                    .exitCode,
                0);
    }
    void cleanup() {
        delete program_;
        program_ = nullptr;
    }
    void cleanupTestCase() { delete dir_; }

    void toolBarCaptionsFitTheirButtonsInEveryLanguage() {
        for (const QString &language : kLanguages) {
            Start(language);
            MainForm->show();
            QList<QToolButton *> buttons;
            for (QToolButton *b : MainForm->ui->Panel1->findChildren<QToolButton *>())
                if (b->isVisible())
                    buttons << b;
            QCOMPARE(buttons.size(), 7);
            std::sort(buttons.begin(), buttons.end(),
                      [](QToolButton *a, QToolButton *b) { return a->x() < b->x(); });
            for (int i = 0; i < buttons.size(); ++i) {
                QToolButton *b = buttons[i];
                const QString caption = QString(b->text()).remove('&');
                const int needed = QFontMetrics(b->font()).horizontalAdvance(caption) + 8;
                QVERIFY2(b->width() >= needed && b->sizeHint().width() <= b->width(),
                         qPrintable(language + ": " + caption));
                QVERIFY2(b->x() >= 0 && b->geometry().right() < MainForm->ui->Panel1->width(),
                         qPrintable(language + ": " + caption));
                if (i > 0)
                    QVERIFY2(!buttons[i - 1]->geometry().intersects(b->geometry()),
                             qPrintable(language + ": " + caption));
            }
        }
    }

    void engineErrorsShowInTheChosenLanguage() {
        const struct {
            QString language, caption, text;
        } cases[] = {
            {"Russian.ini", "Ошибка", "Не удалось создать выходной файл."},
            {"German.ini", "Fehler", "Die Ausgabedatei kann nicht erstellt werden."},
            {"English.ini", "Error", "Cannot creat the output file."},
        };
        const QString output = Q("missing/out.wav");
        for (const auto &c : cases) {
            Start(c.language);
            const QList<RecordingDialogs::Box> boxes = JoinTo(output);
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].caption, c.caption);
            QVERIFY2(boxes[0].text.startsWith(c.text + '\n' + output + '\n'),
                     qPrintable(boxes[0].text));
        }
    }

    void aLanguageFileWithoutTheKeysShowsTheEnglishTexts() {
        QDir().mkpath(Q("TDLanguage"));
        WriteFile(dir_->File("TDLanguage/Old.ini"),
                  "[LanguageProperty]\nCharSet=204\n[Common]\nMessage=\xD1\xEE\xEE\xE1\xF9\xE5"
                  "\xED\xE8\xE5\n[Join]\nComplete=OK\n");
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage=Old.ini\n");
        program_ = new ProgramWindows(dir_->Path());
        const QList<RecordingDialogs::Box> boxes = JoinTo(Q("missing/out.wav"));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].caption, QString("Error"));
        QVERIFY(boxes[0].text.startsWith("Cannot creat the output file.\n" + Q("missing/out.wav")));
    }

    void theTagsBoxShowsItsLanguagesText() {
        const struct {
            QString language, text;
        } cases[] = {
            {"English.ini", kTagsBox},
            {"Russian.ini", "Копировать теги и записать главу для каждого файла"},
            {"ChineseBig5.ini", "複製標籤並為每個檔案寫入一個章節"},
        };
        for (const auto &c : cases) {
            Start(c.language);
            QCOMPARE(OutputForm->ui->CheckBoxTags->text(), c.text);
        }
        // Switched in the same run to a file made before the box: English, not the last text.
        WriteFile(dir_->File("TDLanguage/NoTags.ini"), "[OutputForm]\nCaption=Wyjscie\n");
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage=NoTags.ini\n");
        MainForm->ApplyLanguage();
        QCOMPARE(OutputForm->windowTitle(), QString("Wyjscie"));
        QCOMPARE(OutputForm->ui->CheckBoxTags->text(), kTagsBox);
    }

    // The box's text and the reason it is off, in the language of the run.
    void theFramesBoxSpeaksTheLanguage() {
        const std::vector<tandrel::JoinInput> withWav = {
            {"/m/a.wav", {44100, 2, 16}, -1, tandrel::InputReader::Wav},
            {"/m/b.mp3", {44100, 2, 16}, -1, tandrel::InputReader::Mp3}};
        const struct {
            QString language, text, why;
        } cases[] = {
            {"English.ini", kFramesBox, "'/m/a.wav' is not an MP3 file"},
            {"German.ini", "Frames der MP3-Dateien beibehalten (ohne Neukodierung)",
             "„/m/a.wav“ ist keine MP3-Datei"},
            {"Polish.ini", "Zachowaj ramki plików MP3 (bez ponownego kodowania)",
             "„/m/a.wav” nie jest plikiem MP3"},
            {"ChineseGB.ini", "保留 MP3 文件的帧（不重新编码）", "“/m/a.wav”不是 MP3 文件"},
        };
        for (const auto &c : cases) {
            Start(c.language);
            OutputForm->CheckKeepFrames(withWav);
            OutputForm->show();
            QCOMPARE(OutputForm->ui->CheckBoxMP3Copy->text(), c.text);
            QCOMPARE(OutputForm->ui->CheckBoxMP3Copy->toolTip(), c.why);
            OutputForm->hide();
        }
        // A file made before the box: the English text.
        WriteFile(dir_->File("TDLanguage/NoFrames.ini"), "[OutputForm]\nCaption=Wyjscie\n");
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage=NoFrames.ini\n");
        MainForm->ApplyLanguage();
        QCOMPARE(OutputForm->ui->CheckBoxMP3Copy->text(), kFramesBox);
    }

    void theWindowsOwnErrorsFollowTheLanguage() {
        tandrel::SetDecodingInitFailureForTesting(true);
        Start("Polish.ini");
        QCOMPARE(program_->dialogs.boxes.size(), 1);
        QCOMPARE(program_->dialogs.boxes[0].caption, QString("Błąd"));
        QCOMPARE(program_->dialogs.boxes[0].text,
                 QString("Nie można uruchomić domyślnego urządzenia odtwarzania!"));
    }
};

QTEST_MAIN(WindowTextsTest)
#include "WindowTextsTest.moc"
