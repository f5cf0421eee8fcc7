#include <QtTest>

#include <QComboBox>
#include <QTreeWidget>

#include "ProgramWindows.h"
#include "TestUtil.h"
#include "forms/AppPaths.h"
#include "forms/AudioFileEntry.h"
#include "forms/CppWebBrowser.h"
#include "forms/Formabout.h"
#include "forms/Formlanguage.h"
#include "forms/Formmain.h"
#include "forms/Forms.h"
#include "ui_Formabout.h"
#include "ui_Formlanguage.h"
#include "ui_Formmain.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

class ExtrasTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    ProgramWindows *program_ = nullptr;
    RecordingDialogs *dialogs_ = nullptr;

    void Language(const std::string &file, const std::string &body) {
        WriteFile(dir_->File("TDLanguage/" + file), body);
    }
    std::string Stored() { return ReadFile(dir_->File("Tandrel.ini")); }
    QStringList Items() {
        QStringList out;
        for (int i = 0; i < LanguageForm->ui->ComboBoxLanguage->count(); ++i)
            out << LanguageForm->ui->ComboBoxLanguage->itemText(i);
        return out;
    }

private slots:
    void init() {
        dir_ = new TempDir;
        QDir().mkpath(QString::fromStdString(dir_->File("TDLanguage")));
        Language("Russian.ini",
                 "[LanguageProperty]\nName=\xD0\xF3\xF1\xF1\xEA\xE8\xE9\nCharSet=204\n"
                 "[ListView]\nMono=\xCC\xEE\xED\xEE\n[StatusBar]\nFiles=\xF4\n");
        Language("english.ini",
                 "[LanguageProperty]\nName=English\n[ListView]\nMono=Mono\nBits=Bits\n");
        Language("German.ini", "[LanguageProperty]\nName=Deutsch\n[ListView]\nMono=Mono\nBits=Bit\n"
                               "[StatusBar]\nFiles=Dateien\n");
        QDir().mkpath(QString::fromStdString(dir_->File("TDLanguage/Old.ini")));
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage=ENGLISH.INI\n");
        program_ = new ProgramWindows(dir_->Path());
        dialogs_ = &program_->dialogs;
    }
    void cleanup() {
        delete program_;
        delete dir_;
    }

    void listsLanguagesByTheirOwnNames() {
        QCOMPARE(TLanguageForm::ListLanguageFiles(MainForm->ExeFolder),
                 QStringList({"english.ini", "German.ini", "Russian.ini"}));
        LanguageForm->FormActivate();
        QCOMPARE(Items(), QStringList({"English", "Deutsch", "Русский"}));
        QCOMPARE(LanguageForm->ui->ComboBoxLanguage->currentIndex(), 0); // ENGLISH.INI
    }

    void okStoresTheChoiceAndTheWindowsFollowAtOnce() {
        auto *row = new QTreeWidgetItem(MainForm->ui->ListView1);
        for (int k = 0; k < 10; ++k)
            SetSubItem(row, k, QStringLiteral("x"));
        SetSubItem(row, 7, "1");
        SetSubItem(row, 8, "16");
        MainForm->ImageList1.append(QIcon());

        QTimer::singleShot(0, [] {
            LanguageForm->ui->ComboBoxLanguage->setCurrentIndex(2);
            LanguageForm->ui->ButtonOk->click();
        });
        MainForm->ButtonLanguageClick();
        QCOMPARE(Stored(), std::string("[General]\nLanguage=Russian.ini\n"));
        QCOMPARE(SubItem(row, 1), QString("Моно"));
        QCOMPARE(SubItem(row, 2), QString("16 "));
        QCOMPARE(MainForm->StatusPanelText(0), QString("1 ф"));

        // Cancel stores nothing but still re-applies the texts and refreshes the status bar.
        Language("Russian.ini", "[StatusBar]\nFiles=files\n");
        QTimer::singleShot(0, [] {
            LanguageForm->ui->ComboBoxLanguage->setCurrentIndex(1);
            LanguageForm->ui->ButtonCancel->click();
        });
        MainForm->ButtonLanguageClick();
        QCOMPARE(Stored(), std::string("[General]\nLanguage=Russian.ini\n"));
        QCOMPARE(MainForm->StatusPanelText(0), QString("1 files"));
    }

    void sameDisplayNameStoresTheFileThatSortsFirst() {
        Language("Aaa.ini", "[LanguageProperty]\nName=deutsch\n");
        LanguageForm->FormActivate();
        LanguageForm->ui->ComboBoxLanguage->setCurrentIndex(2); // German.ini's item
        LanguageForm->ButtonOkClick();
        QCOMPARE(Stored(), std::string("[General]\nLanguage=Aaa.ini\n"));
    }

    void emptyFolderStoresTheEmptyChoice() {
        QDir languages(QString::fromStdString(dir_->File("TDLanguage")));
        for (const QString &file : languages.entryList(QDir::Files))
            languages.remove(file);
        LanguageForm->FormActivate();
        QCOMPARE(LanguageForm->ui->ComboBoxLanguage->count(), 0);
        QCOMPARE(LanguageForm->ui->ComboBoxLanguage->currentText(), QString());
        LanguageForm->ButtonOkClick();
        QCOMPARE(Stored(), std::string("[General]\nLanguage=\n"));
        MainForm->ApplyLanguage(); // chooses from the locale again
        QVERIFY(Stored() != "[General]\nLanguage=\n");
    }

    void linksOpenTheSameAddress() {
        MainForm->ButtonUpdateClick();
        QTimer::singleShot(0, [] {
            AboutForm->Label5Click();
            AboutForm->ui->ButtonOk->click();
        });
        MainForm->ButtonAboutClick();
        QCOMPARE(dialogs_->opened,
                 QStringList({"https://tandrel.example.org/", "https://tandrel.example.org/"}));
        LanguageForm->TranslateFilePath = "/x/TDLanguage/English.ini";
        QTest::mouseClick(LanguageForm->ui->Label2, Qt::LeftButton);
        QCOMPARE(dialogs_->opened.last(), QString("/x/TDLanguage/English.ini"));
    }

    // ...and keep their other styles.
    void linksUnderlineOnlyWhileThePointerIsOverThem() {
        auto open = [](QDialog *dialog, const std::function<void()> &shown) {
            QTimer::singleShot(0, dialog, [&] {
                QVERIFY(QTest::qWaitForWindowExposed(dialog));
                shown();
            });
            dialog->exec();
        };
        const QList<std::pair<QDialog *, QWidget *>> links = {
            {AboutForm, AboutForm->ui->Label5}, {LanguageForm, LanguageForm->ui->Label2}};
        for (const auto &[dialog, link] : links) {
            QFont bold = link->font();
            bold.setBold(true);
            link->setFont(bold);
            for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
                QCursor::setPos(QPoint(-500, -500));
                bool atShow = true, over = false;
                open(dialog, [&] {
                    atShow = link->font().underline();
                    QCursor::setPos(link->mapToGlobal(link->rect().center()));
                    QCoreApplication::processEvents();
                    over = link->font().underline() && link->font().bold();
                    QTest::keyClick(dialog, key);
                });
                QVERIFY(!dialog->isVisible());
                QVERIFY2(!atShow && over, qPrintable(link->objectName()));
                QVERIFY(!link->font().underline());
                // The pointer stays where the link shows: showing again underlines it at once.
                dialog->show();
                QVERIFY(link->font().underline());
                dialog->hide();
                QCoreApplication::processEvents();
                QVERIFY(!link->font().underline() && link->font().bold());
            }
        }
        QCursor::setPos(QPoint(-500, -500));
    }

    void bannerLosesItsBorderAndSwallowsRightClicksInside() {
        TCppWebBrowser *banner = MainForm->ui->CppWebBrowser1;
        QVERIFY(!banner->Visible());
        banner->LoadBlankPage();
        QCOMPARE(banner->Document()->GetObject("body")->GetObject("style")->GetProperty("border"),
                 QVariant("none"));
        MainForm->CppWebBrowser1DocumentComplete(MainForm, nullptr, QVariant()); // not a browser

        MainForm->show();
        banner->setGeometry(400, 0, 257, 65);
        const QRect r = banner->geometry();
        auto swallowed = [&](int x, int y, unsigned message = WM_RBUTTONDOWN) {
            TMsg msg{message, MainForm->centralWidget()->mapToGlobal(QPoint(x, y))};
            bool handled = false;
            MainForm->ApplicationEvents1Message(msg, handled);
            return handled;
        };
        QVERIFY(!swallowed(r.left(), r.top() + 10));               // leftmost column
        QVERIFY(!swallowed(r.left() + 10, r.top()));               // top row
        QVERIFY(swallowed(r.right(), r.top() + 10));               // rightmost column
        QVERIFY(swallowed(r.left() + 10, r.bottom()));             // bottom row
        QVERIFY(swallowed(r.left() + 100, r.top() + 30));          // inside
        QVERIFY(!swallowed(r.right() + 1, r.top() + 10));          // outside
        QVERIFY(!swallowed(r.left() + 100, r.top() + 30, 0x0201)); // left button
    }
};

QTEST_MAIN(ExtrasTest)
#include "ExtrasTest.moc"
