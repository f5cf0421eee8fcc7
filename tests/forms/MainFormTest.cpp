#include <QtTest>

#include <QScrollBar>
#include <QTreeWidget>

#include "ProgramWindows.h"
#include "TestUtil.h"
#include "audio/Decoding.h"
#include "forms/AppPaths.h"
#include "forms/AudioFileEntry.h"
#include "forms/Formabout.h"
#include "forms/Formlanguage.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/Forms.h"
#include "ui_Formabout.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

using testutil::TempDir;
using testutil::WriteFile;

namespace {

const char *kTestLanguage = "[LanguageProperty]\nName=Test\nFontName=Courier\nFontSize=abc\n"
                            "CharSet=204\n"
                            "[toolbar]\nadd=\xC4\xEE\xE1\xE0\xE2\xE8\xF2\xFC\nJoin=J\n"
                            "[Hint]\nAdd=hint add\n"
                            "[ListView]\nName=Files\nPath=Where\nBits=bit\nMono=M\nStereo=S\n"
                            "[StatusBar]\nFiles=Files\nTime=Time\n"
                            "[AboutForm]\nCopyright=(c) [xxx]-[xxx] [XXX]\n"
                            "[ProcessForm]\nJoining=J:\n[Common]\nCancel=No way\n"
                            "[OutputForm]\nNext=N>\n";

QColor RowColour(int i) {
    return QColor::fromHsv((i * 47) % 360, 255, 255);
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    ProgramWindows *program_ = nullptr;
    RecordingDialogs *dialogs_ = nullptr;

    void AddRow(const QString &name, int channels, int bits, int seconds) {
        QTreeWidget *list = MainForm->ui->ListView1;
        auto *row = new QTreeWidgetItem(list);
        row->setText(0, name);
        const QStringList sub = QString("44100 Hz|x|x|1 KB|00:01|/music/|44100").split('|')
                                << QString::number(channels) << QString::number(bits)
                                << QString::number(seconds);
        for (int k = 0; k < 10; ++k)
            SetSubItem(row, k, sub[k]);
        QPixmap pm(16, 16);
        pm.fill(RowColour(list->topLevelItemCount() - 1));
        MainForm->ImageList1.append(QIcon(pm));
        SetImageIndex(row, MainForm->ImageList1.size() - 1, MainForm->ImageList1.back());
    }

    QStringList Captions() const {
        QStringList out;
        QTreeWidget *list = MainForm->ui->ListView1;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(0);
        return out;
    }

    // Every row still shows the icon it was added with (its colour follows its name).
    void VerifyIconsFollowRows(const QStringList &names) {
        QTreeWidget *list = MainForm->ui->ListView1;
        QCOMPARE(MainForm->ImageList1.size(), list->topLevelItemCount());
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem *row = list->topLevelItem(i);
            int original = names.indexOf(row->text(0));
            QCOMPARE(ImageIndex(row), i);
            QCOMPARE(row->icon(0).pixmap(16).toImage().pixel(4, 4), RowColour(original).rgb());
        }
    }

private slots:
    void init() {
        dir_ = new TempDir;
        MakeProgramFolder(*dir_, "Test.ini", kTestLanguage);
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage= Test.ini \n");
        program_ = new ProgramWindows(dir_->Path());
        dialogs_ = &program_->dialogs;
    }
    void cleanup() {
        delete program_;
        delete dir_;
    }

    void startUpLayoutFoldersAndNoBanner() {
        QVERIFY(MainForm->TempFolder.endsWith('/'));
        QCOMPARE(MainForm->TempPcmPath, MainForm->TempFolder + "AudioTemp.pcm");
        QVERIFY(!MainForm->TempPcmPath.contains("//"));
        QCOMPARE(MainForm->ExeFolder, QString::fromStdString(dir_->Path()) + '/');
        QVERIFY(MainForm->acceptDrops());
        QVERIFY(!MainForm->ui->CppWebBrowser1->isVisibleTo(MainForm));
        QVERIFY(MainForm->ui->CppWebBrowser1->x() >= MainForm->width() + 100);
        QVERIFY(dialogs_->boxes.isEmpty());
        QVERIFY(AboutForm && LanguageForm && OutputForm && ProcessForm);
        QCOMPARE(AboutForm->parent(), MainForm);
        QCOMPARE(MainForm->windowTitle(), QString("Borvik Tandrel"));
        QVERIFY(TMainForm::FormCanResize(718));
        QVERIFY(!TMainForm::FormCanResize(717));
        QTreeWidget *list = MainForm->ui->ListView1;
        QCOMPARE(list->columnCount(), 7);
        for (int c = 0; c < 7; ++c)
            QVERIFY(!list->isColumnHidden(c));
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(!MainForm->ui->ButtonJoin->icon().isNull());
    }

    void audioFailureIsReportedOnceAndTheWindowStillOpens() {
        tandrel::SetDecodingInitFailureForTesting(true);
        dialogs_->boxes.clear();
        program_->Restart();
        MainForm->show();
        QCOMPARE(dialogs_->Texts(), QStringList{"Cannot start default playing device!"});
        QCOMPARE(dialogs_->boxes[0].icon, QMessageBox::Critical);
        QVERIFY(!dialogs_->boxes[0].owned);
        QVERIFY(!MainForm->acceptDrops());
        QCOMPARE(MainForm->ui->ButtonJoin->text(), QString("J")); // language still applied
    }

    void emptyListFitsTheStartingSizeAndOnlyTheWidthIsLimited() {
        QTreeWidget *list = MainForm->ui->ListView1;
        MainForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(MainForm));
        QCOMPARE(MainForm->size(), QSize(710, 456));
        QVERIFY(!list->horizontalScrollBar()->isVisible());

        MainForm->resize(800, 40);
        QCOMPARE(MainForm->size(), QSize(800, 40));
        MainForm->resize(300, 100);
        QCOMPARE(MainForm->size(), QSize(710, 100));
        QCOMPARE(MainForm->minimumHeight(), 0);
    }

    void applyLanguageSetsTextsAndFonts() {
        Ui::TMainForm *m = MainForm->ui;
        QCOMPARE(m->ButtonAdd->text(), QString("Добавить"));
        QCOMPARE(m->ButtonRemove->text(), QString()); // key missing: empty, not the layout text
        QCOMPARE(m->ButtonAdd->toolTip(), QString("hint add"));
        QCOMPARE(m->ListView1->headerItem()->text(0), QString("Files"));
        for (QWidget *w : {static_cast<QWidget *>(MainForm), static_cast<QWidget *>(AboutForm),
                           static_cast<QWidget *>(ProcessForm), static_cast<QWidget *>(OutputForm),
                           static_cast<QWidget *>(LanguageForm)}) {
            QCOMPARE(w->font().family(), QString("Courier"));
            QCOMPARE(w->font().pointSize(), 8);
            QCOMPARE(w->property("CharSet").toInt(), 204);
        }
        const QString year = QString::number(QDate::currentDate().year());
        QCOMPARE(AboutForm->ui->Label8->text(), "(c) " + year + "-[xxx] [XXX]");
        QCOMPARE(AboutForm->ui->Label3->text(), QString("2.5"));
        QCOMPARE(ProcessForm->ui->Label2->text(), QString("J:"));
        QCOMPARE(ProcessForm->ui->ButtonCancel->text(), QString("No way"));
        QCOMPARE(OutputForm->NextCaption, QString("N>"));

        // A missing language file empties every text and falls back to the default font.
        WriteFile(dir_->File("Tandrel.ini"), "[General]\nLanguage=Nothing.ini\n");
        MainForm->ApplyLanguage();
        QCOMPARE(m->ButtonAdd->text(), QString());
        QCOMPARE(MainForm->font().family(), QString("Tahoma"));
        QCOMPARE(MainForm->property("CharSet").toInt(), 1);
    }

    void rowCellsFollowTheLanguage() {
        AddRow("a.wav", 1, 16, 5);
        AddRow("b.wav", 2, 8, 5);
        AddRow("c.wav", 6, 24, 5);
        MainForm->ApplyLanguage();
        QTreeWidget *list = MainForm->ui->ListView1;
        QCOMPARE(SubItem(list->topLevelItem(0), 1), QString("M"));
        QCOMPARE(SubItem(list->topLevelItem(0), 2), QString("16 bit"));
        QCOMPARE(SubItem(list->topLevelItem(1), 1), QString("S"));
        QCOMPARE(SubItem(list->topLevelItem(2), 1), QString("S"));
        QCOMPARE(SubItem(list->topLevelItem(2), 2), QString("24 bit"));
        QCOMPARE(SubItem(list->topLevelItem(2), 3), QString("1 KB"));
    }

    void statusBarCountsFilesAndTotalTime() {
        MainForm->UpdateStatusBar();
        QCOMPARE(MainForm->StatusPanelText(0), QString("0 Files"));
        QCOMPARE(MainForm->StatusPanelText(1), QString("Time 00:00:00"));
        AddRow("a.wav", 2, 16, 35999);
        AddRow("b.wav", 2, 16, 1);
        MainForm->UpdateStatusBar();
        QCOMPARE(MainForm->StatusPanelText(0), QString("2 Files"));
        QCOMPARE(MainForm->StatusPanelText(1), QString("Time 10:00:00"));
        AddRow("c.wav", 2, 16, 125 * 3600 - 36000);
        MainForm->UpdateStatusBar();
        QCOMPARE(MainForm->StatusPanelText(1), QString("Time 125:00:00"));

        WriteFile(dir_->File("TDLanguage/Test.ini"), "[ListView]\nBits=x\n");
        MainForm->ApplyLanguage();
        MainForm->UpdateStatusBar();
        QCOMPARE(MainForm->StatusPanelText(0), QString("3 "));
        QCOMPARE(MainForm->StatusPanelText(1), QString(" 125:00:00"));
    }

    void listOperationsKeepIconsOnTheirRows() {
        const QStringList names = {"a", "b", "c", "d", "e"};
        for (const QString &n : names)
            AddRow(n, 2, 16, 1);
        QTreeWidget *list = MainForm->ui->ListView1;
        auto select = [&](std::initializer_list<int> rows) {
            list->clearSelection();
            for (int r : rows)
                list->topLevelItem(r)->setSelected(true);
        };

        select({0});
        MainForm->ButtonUpClick(); // top row: nothing
        QCOMPARE(Captions(), QStringList({"a", "b", "c", "d", "e"}));
        select({1, 2});
        MainForm->ButtonDownClick(); // two selected: nothing
        MainForm->ButtonUpClick();
        QCOMPARE(Captions(), QStringList({"a", "b", "c", "d", "e"}));

        select({3});
        MainForm->ButtonDownClick(); // second-to-last becomes last
        QCOMPARE(Captions(), QStringList({"a", "b", "c", "e", "d"}));
        MainForm->ButtonDownClick(); // bottom: nothing
        MainForm->ButtonUpClick();
        MainForm->ButtonUpClick(); // the same file keeps moving
        QCOMPARE(Captions(), QStringList({"a", "b", "d", "c", "e"}));
        QVERIFY(list->topLevelItem(2)->isSelected());
        VerifyIconsFollowRows(names);

        select({0, 1, 4});
        MainForm->ButtonRemoveClick();
        QCOMPARE(Captions(), QStringList({"d", "c"}));
        VerifyIconsFollowRows(names);
        QCOMPARE(MainForm->StatusPanelText(0), QString("2 Files"));

        MainForm->ButtonClearClick();
        QCOMPARE(list->topLevelItemCount(), 0);
        QVERIFY(MainForm->ImageList1.isEmpty());
        QCOMPARE(MainForm->StatusPanelText(0), QString("0 Files"));
    }

    void listKeysRemoveSelectAllAndAdd() {
        const QStringList names = {"a", "b", "c", "d"};
        for (const QString &n : names)
            AddRow(n, 2, 16, 1);
        MainForm->show();
        QTreeWidget *list = MainForm->ui->ListView1;
        list->setFocus();

        QTest::keyClick(list, Qt::Key_Delete); // nothing selected
        QCOMPARE(Captions(), names);
        list->topLevelItem(1)->setSelected(true);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(Captions(), QStringList({"a", "c", "d"}));
        QCOMPARE(MainForm->StatusPanelText(0), QString("3 Files"));

        list->clearSelection();
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier); // the list's own select-all
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->topLevelItemCount(), 0);

        QTest::keyClick(list, Qt::Key_Insert); // the Add dialog, cancelled
        QCOMPARE(dialogs_->openFolders.size(), 1);
    }

    void deleteSelectsTheRowThatTookThePlaceOfTheFirstRemoved() {
        for (const char *n : {"a", "b", "c", "d", "e", "f"})
            AddRow(n, 2, 16, 1);
        MainForm->show();
        QTreeWidget *list = MainForm->ui->ListView1;
        list->setFocus();
        auto selected = [list] {
            QStringList out;
            for (QTreeWidgetItem *item : list->selectedItems())
                out << item->text(0);
            return out;
        };

        list->topLevelItem(1)->setSelected(true);
        list->topLevelItem(3)->setSelected(true);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(Captions(), QStringList({"a", "c", "e", "f"}));
        QCOMPARE(selected(), QStringList{"c"});
        QCOMPARE(list->currentItem()->text(0), QString("c"));
        QTest::keyClick(list, Qt::Key_Delete); // a second Delete goes on down the list
        QCOMPARE(Captions(), QStringList({"a", "e", "f"}));
        QCOMPARE(selected(), QStringList{"e"});

        // Removed at the end: the new last row.
        list->clearSelection();
        list->topLevelItem(1)->setSelected(true);
        list->topLevelItem(2)->setSelected(true);
        MainForm->ButtonRemoveClick();
        QCOMPARE(Captions(), QStringList{"a"});
        QCOMPARE(selected(), QStringList{"a"});
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->topLevelItemCount(), 0);
        QVERIFY(selected().isEmpty());
        QCOMPARE(MainForm->StatusPanelText(0), QString("0 Files"));
    }

    void unwritableSettingsAreReportedOnceAndTheProgramGoesOn() {
        QFile::remove(QString::fromStdString(dir_->File("Tandrel.ini")));
        WriteFile(dir_->File("TDLanguage/English.ini"), "[ToolBar]\nJoin=English join\n");
        // A folder in the settings file's place makes every write fail, for root too.
        QDir().mkpath(QString::fromStdString(dir_->File("Tandrel.ini/x")));
        dialogs_->boxes.clear();
        program_->Restart(); // the locale (C or English here) chooses English.ini
        MainForm->ApplyLanguage();
        MainForm->ApplyLanguage();
        QCOMPARE(dialogs_->boxes.size(), 1);
        QVERIFY(dialogs_->boxes[0].text.startsWith("Unable to write to "));
        QVERIFY(dialogs_->boxes[0].text.endsWith("Tandrel.ini"));
        QCOMPARE(MainForm->ui->ButtonJoin->text(), QString("English join"));
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
