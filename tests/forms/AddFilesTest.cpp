#include <QtTest>

#include <QMimeData>
#include <QTreeWidget>

#include "ProgramWindows.h"
#include "TestHome.h"
#include "TestUtil.h"
#include "audio/Decoding.h"
#include "audio/Probe.h"
#include "forms/AppPaths.h"
#include "forms/AudioFileEntry.h"
#include "forms/Dialogs.h"
#include "forms/Formmain.h"
#include "forms/Forms.h"
#include "lang/IniFile.h"
#include "ui_Formmain.h"

using testutil::Quote;
using testutil::Run;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

// An icon theme of the given names, made current for as long as it lives.
class IconTheme {
public:
    IconTheme(const QStringList &names)
        : searchPaths_(QIcon::themeSearchPaths()), name_(QIcon::themeName()) {
        const QString root = QString::fromStdString(dir_.Path());
        QDir().mkpath(root + "/test/16");
        WriteFile(dir_.File("test/index.theme"),
                  "[Icon Theme]\nName=test\nDirectories=16\n[16]\nSize=16\nType=Fixed\n");
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        for (const QString &name : names)
            image.save(root + "/test/16/" + name + ".png");
        QIcon::setThemeSearchPaths({root});
        QIcon::setThemeName("test");
    }
    ~IconTheme() {
        QIcon::setThemeName(name_);
        QIcon::setThemeSearchPaths(searchPaths_);
    }

private:
    TempDir dir_;
    QStringList searchPaths_;
    QString name_;
};

} // namespace

class AddFilesTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    ProgramWindows *program_ = nullptr;
    RecordingDialogs *dialogs_ = nullptr;

    QString F(const std::string &name) { return QString::fromStdString(dir_->File(name)); }
    QTreeWidget *List() { return MainForm->ui->ListView1; }
    QStringList Row(int i) {
        QStringList out{List()->topLevelItem(i)->text(0)};
        for (int k = 0; k < 10; ++k)
            out << SubItem(List()->topLevelItem(i), k);
        return out;
    }
    QStringList Captions() {
        QStringList out;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            out << List()->topLevelItem(i)->text(0);
        return out;
    }

private slots:
    void initTestCase() {
        dir_ = new TempDir;
        MakeProgramFolder(*dir_, "English.ini",
                          "[ListView]\nBits=Bits\nMono=Mono\nStereo=Stereo\n[Common]\nMessage=Msg\n"
                          "[OpenDialog]\nNotPCM=not pcm\nNotMP3Info=bad mp3\nNotWMAInfo=bad wma\n"
                          "NotSupport=unsupported\n[StatusBar]\nFiles=Files\nTime=Time\n");
        const std::string d = dir_->Path() + "/";
        auto ok = [](const std::string &cmd) { QCOMPARE(Run(cmd).exitCode, 0); };
        ok("sox -n -r 44100 -c 2 -b 16 " + Quote(d + "b.wav") + " trim 0 10");
        ok("sox -n -r 22050 -c 1 -b 8 " + Quote(d + "mono8.wav") + " synth 2 sine 440");
        ok("sox -n -r 44100 -c 1 -b 16 " + Quote(d + "tone.wav") + " synth 3 sine 440");
        ok("lame --quiet -b 64 " + Quote(d + "tone.wav") + " " + Quote(d + "A.mp3"));
        ok("ffmpeg -v error -y -i " + Quote(d + "tone.wav") + " -c:a wmav2 -ac 2 " +
           Quote(d + "c.WMA"));
        ok("sox -n -r 48000 -c 2 -b 24 " + Quote(d + "src24.wav") + " synth 2 sine 440");
        ok("ffmpeg -v error -y -i " + Quote(d + "src24.wav") + " -c:a flac " +
           Quote(d + "tone.flac"));
        ok("ffmpeg -v error -y -i " + Quote(d + "src24.wav") + " -c:a libopus " +
           Quote(d + "talk.opus"));
        WriteFile(d + "corrupt.wav", "RIFF....WAVEjunk");
        WriteFile(d + "notes.txt", "hello");
        WriteFile(d + "empty.wav", testutil::BuildWav({}));
    }
    void cleanupTestCase() { delete dir_; }
    void init() {
        program_ = new ProgramWindows(dir_->Path());
        dialogs_ = &program_->dialogs;
    }
    void cleanup() { delete program_; }

    void addsSortedRowsWithAllTheirTexts() {
        QStringList names = {F("b.wav"), F("A.mp3"), F("c.WMA"), F("b.wav")};
        MainForm->AddFiles(names);
        QVERIFY2(dialogs_->boxes.isEmpty(), qPrintable(dialogs_->Texts().join('|')));
        QCOMPARE(Captions(), QStringList({"A.mp3", "b.wav", "b.wav", "c.WMA"}));
        const QString folder = QString::fromStdString(dir_->Path()) + '/';
        QCOMPARE(Row(1), QStringList({"b.wav", "44100 Hz", "Stereo", "16 Bits", "1.6 MB", "00:10",
                                      folder, "44100", "2", "16", "10"}));
        QCOMPARE(Row(1), Row(2)); // the same file twice gives two identical rows
        QCOMPARE(MainForm->ImageList1.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(ImageIndex(List()->topLevelItem(i)), i);
            QVERIFY(!List()->topLevelItem(i)->icon(0).isNull());
        }
    }

    // Each row's icon, reader and hint follow what the file holds; a kind whose first icon the
    // theme lacks takes its next one (MP3: audio-x-mpeg).
    void rowsTellTheKindOfAudio() {
        IconTheme theme(
            {"audio-x-wav", "audio-x-mpeg", "audio-x-ms-wma", "audio-x-flac", "audio-x-generic"});
        QStringList names = {F("tone.flac"), F("b.wav"), F("A.mp3"), F("c.WMA"), F("talk.opus")};
        MainForm->AddFiles(names);
        QVERIFY2(dialogs_->boxes.isEmpty(), qPrintable(dialogs_->Texts().join('|')));
        QCOMPARE(Captions(), QStringList({"A.mp3", "b.wav", "c.WMA", "talk.opus", "tone.flac"}));
        using tandrel::InputReader;
        const struct {
            const char *icon;
            InputReader reader;
            const char *hint;
        } rows[] = {{"audio-x-mpeg", InputReader::Mp3, "MP3, mp3"},
                    {"audio-x-wav", InputReader::Wav, "WAV, pcm_s16le"},
                    {"audio-x-ms-wma", InputReader::Decoded, "ASF, wmav2"},
                    {"audio-x-generic", InputReader::Decoded, ", opus"},
                    {"audio-x-flac", InputReader::Decoded, "FLAC, flac"}};
        for (int i = 0; i < 5; ++i) {
            const QTreeWidgetItem *row = List()->topLevelItem(i);
            QCOMPARE(row->icon(0).name(), QString(rows[i].icon));
            QCOMPARE(Reader(row), rows[i].reader);
            QVERIFY2(row->toolTip(0).endsWith(rows[i].hint), qPrintable(row->toolTip(0)));
        }
        // The FLAC keeps its 24 bits; the lossy Opus comes out as 16.
        const QStringList flac = Row(4), opus = Row(3);
        QCOMPARE(flac.mid(1, 3), QStringList({"48000 Hz", "Stereo", "24 Bits"}));
        QCOMPARE(flac.mid(5), QStringList({"00:02", F(""), "48000", "2", "24", "2"}));
        QCOMPARE(opus.mid(1, 3), QStringList({"48000 Hz", "Stereo", "16 Bits"}));
    }

    // The Add dialog starts on every audio extension, the language file's own lines after it;
    // a language file without the line's text gets it in English.
    void addDialogStartsWithEveryAudioExtension() {
        QStringList patterns;
        for (const std::string &extension : tandrel::AudioExtensions())
            patterns << '*' + QString::fromStdString(extension);
        for (const char *usual : {"*.wav", "*.mp3", "*.wma", "*.flac", "*.ogg", "*.opus", "*.m4a",
                                  "*.aiff", "*.wv", "*.ape", "*.caf"})
            QVERIFY2(patterns.contains(usual), usual);
        const QString list = '(' + patterns.join(' ') + ')';
        MainForm->ButtonAddClick();
        QCOMPARE(ToQtFilter(dialogs_->openFilters.last()), "All audio files" + list);

        TempDir german;
        MakeProgramFolder(german, "Deutsch.ini",
                          "[OpenDialog]\nAllAudio=Alle Audiodateien\n"
                          "Filter=WAV-Dateien(*.wav)|*.wav|Alle Dateien(*.*)|*.*\n");
        delete program_;
        program_ = new ProgramWindows(german.Path());
        dialogs_ = &program_->dialogs;
        MainForm->ButtonAddClick();
        QCOMPARE(
            ToQtFilter(dialogs_->openFilters.last()).split(";;"),
            QStringList({"Alle Audiodateien" + list, "WAV-Dateien(*.wav)", "Alle Dateien(*)"}));
        delete program_; // the windows go before their folder does
        program_ = new ProgramWindows(dir_->Path());
        dialogs_ = &program_->dialogs;
    }

    void refusedFilesGetOneBoxEachAndTheRestIsAdded() {
        QStringList names = {F("notes.txt"), F("corrupt.wav"), F("mono8.wav"), F("missing.mp3"),
                             F("empty.wav")};
        MainForm->AddFiles(names);
        QCOMPARE(Captions(), QStringList({"mono8.wav"}));
        QCOMPARE(SubItem(List()->topLevelItem(0), 2), QString("8 Bits"));
        const QStringList texts = dialogs_->Texts();
        QCOMPARE(texts.size(), 5); // the reader's own message, then one box per file
        QCOMPARE(texts[0], QString("This is not a valid Wave file."));
        QCOMPARE(texts[1], F("corrupt.wav") + "\nnot pcm");
        QVERIFY(texts.contains(F("missing.mp3") + "\nbad mp3"));
        QVERIFY(texts.contains(F("notes.txt") + "\nunsupported"));
        // A key the language file lacks falls back to the English text.
        QVERIFY(
            texts.contains(F("empty.wav") + "\nThis file cannot be joined: it holds no audio."));
        const RecordingDialogs::Box &box = dialogs_->boxes[1];
        QCOMPARE(box.caption, QString("Msg"));
        QCOMPARE(box.icon, QMessageBox::Information);
    }

    void withoutTheDecodingLayerOnlyWavFilesAreAdded() {
        tandrel::SetDecodingInitFailureForTesting(true);
        program_->Restart();
        dialogs_->boxes.clear();
        QStringList names = {F("A.mp3"), F("b.wav"), F("c.WMA")};
        MainForm->AddFiles(names);
        QCOMPARE(Captions(), QStringList({"b.wav"}));
        QCOMPARE(dialogs_->Texts(),
                 QStringList({F("A.mp3") + "\nbad mp3", F("c.WMA") + "\nbad wma"}));
    }

    void addButtonAndDropRefreshTheStatusBar() {
        dialogs_->openAnswers << QStringList{F("b.wav"), F("mono8.wav")};
        MainForm->ButtonAddClick();
        QCOMPARE(MainForm->StatusPanelText(0), QString("2 Files"));
        QCOMPARE(MainForm->StatusPanelText(1), QString("Time 00:00:12"));
        MainForm->ButtonAddClick(); // cancelled: nothing changes
        QCOMPARE(List()->topLevelItemCount(), 2);

        // A real drop of two local files, in drop order; sorted when added.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(F("tone.wav")), QUrl::fromLocalFile(F("A.mp3"))});
        QDragEnterEvent enter(QPoint(50, 150), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(MainForm, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(50, 150), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(MainForm, &drop);
        QCOMPARE(Captions(), QStringList({"b.wav", "mono8.wav", "A.mp3", "tone.wav"}));
        QCOMPARE(MainForm->StatusPanelText(0), QString("4 Files"));
    }

    void filesOnTheCommandLineAreAddedAsADropOfThem() {
        const QString before = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(dir_->Path()));
        MainForm->AddCommandLineFiles({"tone.wav", "notes.txt", F("b.wav")});
        QDir::setCurrent(before);
        QCOMPARE(Captions(), QStringList({"b.wav", "tone.wav"}));
        QCOMPARE(SubItem(List()->topLevelItem(1), 5), F(""));
        QCOMPARE(dialogs_->Texts(), QStringList{F("notes.txt") + "\nunsupported"});
        QCOMPARE(MainForm->StatusPanelText(0), QString("2 Files"));
    }

    void addDialogOpensWhereItWasLastUsed() {
        TempDir root;
        TestHome home(root.Path()); // no music folder: the home folder
        QVERIFY(QDir().mkpath(F("music")));
        QVERIFY(QFile::copy(F("mono8.wav"), F("music/mono8.wav")));
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage=English.ini\n");
        program_->Restart();
        MainForm->ButtonAddClick(); // nothing stored; cancelled
        dialogs_->openAnswers << QStringList{F("music/mono8.wav")};
        MainForm->ButtonAddClick();
        MainForm->ButtonAddClick(); // cancelled: the folder stays
        program_->Restart();
        MainForm->ButtonAddClick();
        QCOMPARE(dialogs_->openFolders,
                 QStringList({home.home, home.home, F("music"), F("music")}));

        QCOMPARE(tandrel::IniFile(dir_->File("Tandrel.ini")).ReadString("Folders", "AddFiles", ""),
                 F("music").toStdString());

        QVERIFY(QDir(F("music")).removeRecursively());
        program_->Restart();
        MainForm->ButtonAddClick(); // the folder is gone
        QCOMPARE(dialogs_->openFolders.last(), home.home);
    }

    void withNothingStoredTheAddDialogOpensTheMusicFolderElseHome() {
        TempDir root;
        TestHome home(root.Path());
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage=English.ini\n");
        program_->Restart();
        QVERIFY(QDir().mkpath(home.home + "/Sounds"));
        home.WriteUserDirs("XDG_MUSIC_DIR=\"$HOME/Sounds\"");
        MainForm->ButtonAddClick();
        QVERIFY(QDir().rmdir(home.home + "/Sounds")); // named, but gone
        MainForm->ButtonAddClick();
        const QString elsewhere = QString::fromStdString(root.File("my music"));
        QVERIFY(QDir().mkpath(elsewhere));
        home.WriteUserDirs("XDG_MUSIC_DIR=\"" + elsewhere.toStdString() + "\"");
        MainForm->ButtonAddClick();
        QVERIFY(QFile::remove(home.config + "/user-dirs.dirs"));
        QVERIFY(QDir().mkpath(home.home + "/Music")); // the usual name when none is set
        MainForm->ButtonAddClick();
        QCOMPARE(dialogs_->openFolders,
                 QStringList({home.home + "/Sounds", home.home, elsewhere, home.home + "/Music"}));
    }
};

QTEST_MAIN(AddFilesTest)
#include "AddFilesTest.moc"
