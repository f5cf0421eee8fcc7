// The windows with the shipped language files: how the stored choice binds a file.
#include <QtTest>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMessageBox>
#include <QPushButton>

#include "ProgramWindows.h"
#include "TestUtil.h"
#include "forms/Formlanguage.h"
#include "forms/Formmain.h"
#include "forms/Forms.h"
#include "forms/QtLanguage.h"
#include "ui_Formlanguage.h"
#include "ui_Formmain.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const QString kShipped = QStringLiteral(TANDREL_LANG_DIR);

void CopyShipped(const TempDir &dir, const QString &name, const QString &as = QString()) {
    const QString target =
        QString::fromStdString(dir.File("TDLanguage/")) + (as.isEmpty() ? name : as);
    QFile::remove(target);
    QVERIFY(QFile::copy(kShipped + '/' + name, target));
}

QString CancelText() {
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    return box.button(QDialogButtonBox::Cancel)->text();
}

// The family a font name is drawn with, and whether that is the system's serif face.
QString Resolved(const QString &family) {
    return QFontInfo(QFont(family)).family();
}
QString GenericFamily(const char *alias, QFont::StyleHint hint) {
    QFont f(QString::fromLatin1(alias));
    f.setStyleHint(hint);
    return QFontInfo(f).family();
}

// Chooses a language in the language dialog by its display name, as the user does.
void Choose(const QString &displayName) {
    LanguageForm->FormActivate();
    const int index = LanguageForm->ui->ComboBoxLanguage->findText(displayName);
    QVERIFY(index >= 0);
    LanguageForm->ui->ComboBoxLanguage->setCurrentIndex(index);
    LanguageForm->ButtonOkClick();
    MainForm->ApplyLanguage(); // as after the dialog closes
}

void StoreLanguage(const TempDir &dir, const std::string &name) {
    WriteFile(dir.File("Tandrel.ini"), "[General]\nLanguage=" + name + "\n");
}

} // namespace

class LanguageWindowTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    ProgramWindows *program_ = nullptr;

    void Start(const std::string &stored) {
        StoreLanguage(*dir_, stored);
        program_ = new ProgramWindows(dir_->Path());
    }

    void VerifyEnglishTexts() {
        Ui::TMainForm *m = MainForm->ui;
        QCOMPARE(m->ButtonAdd->text(), QString("&Add"));
        QCOMPARE(m->ButtonAdd->toolTip(), QString("Add audio files to the list"));
        QCOMPARE(m->ListView1->headerItem()->text(0), QString("Audio Files"));
        QCOMPARE(MainForm->font().family(), QString("Tahoma"));
        QVERIFY(MainForm->OpenDialog1.Filter.contains(QLatin1String("|All supported files(")));
    }

private slots:
    void init() {
        dir_ = new TempDir;
        QDir().mkpath(QString::fromStdString(dir_->File("TDLanguage")));
        for (const char *f : {"English.ini", "German.ini", "French.ini", "Polish.ini",
                              "Russian.ini", "ChineseGB.ini", "ChineseBig5.ini"})
            CopyShipped(*dir_, f);
    }
    void cleanup() {
        delete program_;
        program_ = nullptr;
        delete dir_;
    }

    void storedNameInOtherCaseBindsTheFileAtStartEveryActivationAndRestart() {
        Start("ENGLISH.INI");
        VerifyEnglishTexts();
        // An activation of the window applies the language again.
        MainForm->show();
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(MainForm, &activate);
        VerifyEnglishTexts();
        // The language dialog shows the same file chosen; the stored value is left as it is.
        LanguageForm->FormActivate();
        QCOMPARE(LanguageForm->ui->ComboBoxLanguage->currentText(), QString("English"));
        QCOMPARE(ReadFile(dir_->File("Tandrel.ini")),
                 std::string("[General]\nLanguage=ENGLISH.INI\n"));
        // Pressing OK stores the file's real name.
        LanguageForm->ButtonOkClick();
        QCOMPARE(ReadFile(dir_->File("Tandrel.ini")),
                 std::string("[General]\nLanguage=English.ini\n"));
        // And in a new run.
        StoreLanguage(*dir_, "rUsSiAn.iNi");
        program_->Restart();
        QCOMPARE(MainForm->property("CharSet").toInt(), 204);
    }

    void theFileNamedExactlyWinsOverOneInOtherCase() {
        WriteFile(dir_->File("TDLanguage/english.ini"),
                  "[LanguageProperty]\nName=lower\n[ToolBar]\nAdd=lower add\n");
        Start("english.ini");
        QCOMPARE(MainForm->ui->ButtonAdd->text(), QString("lower add"));
        LanguageForm->FormActivate();
        QCOMPARE(LanguageForm->ui->ComboBoxLanguage->currentText(), QString("lower"));
        StoreLanguage(*dir_, "English.ini");
        MainForm->ApplyLanguage();
        QCOMPARE(MainForm->ui->ButtonAdd->text(), QString("&Add"));
        LanguageForm->FormActivate();
        QCOMPARE(LanguageForm->ui->ComboBoxLanguage->currentText(), QString("English"));
        // Neither in the stored case: the one that sorts first (as the dialog lists them).
        StoreLanguage(*dir_, "ENGLISH.ini");
        QCOMPARE(TLanguageForm::FindLanguageFile(MainForm->ExeFolder, "ENGLISH.ini"),
                 TLanguageForm::ListLanguageFiles(MainForm->ExeFolder)
                     .filter("english.ini", Qt::CaseInsensitive)[0]);
        // A name that matches no file stays as it was, and binds nothing.
        QCOMPARE(TLanguageForm::FindLanguageFile(MainForm->ExeFolder, "Klingon.ini"),
                 QString("Klingon.ini"));
    }

    void theTranslateLinkOpensTheEnglishFileByItsRealName() {
        QFile::remove(QString::fromStdString(dir_->File("TDLanguage/English.ini")));
        CopyShipped(*dir_, "English.ini", "ENGLISH.INI");
        Start("German.ini");
        QTimer::singleShot(0, [] { LanguageForm->ui->ButtonCancel->click(); });
        MainForm->ButtonLanguageClick();
        QCOMPARE(LanguageForm->TranslateFilePath, MainForm->ExeFolder + "TDLanguage/ENGLISH.INI");
    }

    // Qt's translation by the file's built-in name, by its CharSet, and none without a file.
    void qtTextsFollowTheLanguage() {
        if (QtTranslationFile("de_DE").isEmpty() || QtTranslationFile("zh_TW").isEmpty())
            QSKIP("Qt's translations (qt6-translations-l10n) are not installed");
        Start("English.ini");
        QCOMPARE(CancelText(), QString("Cancel"));
        QCOMPARE(InstalledQtTranslation(), QString());

        Choose("Deutsch");
        QCOMPARE(InstalledQtTranslation(), QString("de_DE"));
        QCOMPARE(CancelText(), QString("Abbrechen"));
        {
            QMessageBox box(QMessageBox::Question, "c", "t", QMessageBox::Yes);
            QCOMPARE(box.button(QMessageBox::Yes)->text(), QString("&Ja"));
        }
        StoreLanguage(*dir_, "ChineseBig5.ini");
        MainForm->ApplyLanguage();
        QCOMPARE(InstalledQtTranslation(), QString("zh_TW"));
        QCOMPARE(CancelText(), QString("取消"));

        StoreLanguage(*dir_, "Nothing.ini");
        MainForm->ApplyLanguage();
        QCOMPARE(InstalledQtTranslation(), QString());
        QCOMPARE(CancelText(), QString("Cancel"));
    }

    void windowsFontsOfTheLanguageFilesAreDrawnWithSansSerifFaces() {
        Start("ChineseGB.ini");
        QCOMPARE(MainForm->font().family(), QString("SimSun"));
        const QString sans = GenericFamily("Sans Serif", QFont::SansSerif);
        const QString serif = GenericFamily("Serif", QFont::Serif);
        const QStringList installed = QFontDatabase::families();
        for (const char *name : {"SimSun", "NSimSun", "PMingLiU", "MingLiU", "Tahoma",
                                 "MS Sans Serif", "Microsoft Sans Serif", "Arial"}) {
            if (installed.contains(name, Qt::CaseInsensitive))
                continue; // the real face is there: nothing to stand in for
            const QString resolved = Resolved(name);
            const QString shown = QString("%1 -> %2").arg(name, resolved);
            if (serif != sans)
                QVERIFY2(resolved != serif, qPrintable(shown));
            const QStringList substitutes = QFont::substitutes(name);
            // The generic sans-serif face always closes the list, so something installed serves.
            QVERIFY2(substitutes.contains(sans, Qt::CaseInsensitive), qPrintable(shown));
            QVERIFY2(substitutes.contains(resolved, Qt::CaseInsensitive), qPrintable(shown));
        }
    }
};

QTEST_MAIN(LanguageWindowTest)
#include "LanguageWindowTest.moc"
