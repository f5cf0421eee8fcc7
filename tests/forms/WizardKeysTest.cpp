// The output wizard with the keyboard alone: where focus starts and where Tab takes it, in every
// shipped language.
#include <QtTest>

#include <QApplication>

#include "ProgramWindows.h"
#include "ShippedLanguages.h"
#include "ToneFiles.h"
#include "forms/Formoutput.h"
#include "ui_Formoutput.h"

using testutil::TempDir;

namespace {

QString Describe(QWidget *w) {
    return w ? w->objectName() + (w->isVisible() ? QString() : QStringLiteral(" (hidden)"))
             : QStringLiteral("nothing");
}

QWidget *Focus() {
    return QApplication::focusWidget();
}

void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget *target = Focus() ? Focus() : static_cast<QWidget *>(OutputForm);
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

} // namespace

// A failed comparison inside the helper ends the test function too.
#define VERIFY_CYCLE(...)                                                                          \
    do {                                                                                           \
        VerifyCycle(__VA_ARGS__);                                                                  \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class WizardKeysTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    TempDir *audio_ = nullptr;
    // Two MP3s whose frames can be kept.
    std::vector<tandrel::JoinInput> oneRate_;
    ProgramWindows *program_ = nullptr;
    Ui::TOutputForm *ui() { return OutputForm->ui; }

    void Open() {
        OutputForm->show();
        QVERIFY(QTest::qWaitForWindowActive(OutputForm));
    }

    // Tab from the focus visits `cycle` in order and comes back to its start; Shift+Tab walks
    // the same way back.
    void VerifyCycle(const QList<QWidget *> &cycle) {
        QCOMPARE(Describe(Focus()), Describe(cycle.first()));
        for (int i = 1; i <= cycle.size(); ++i) {
            Press(Qt::Key_Tab);
            QCOMPARE(Describe(Focus()), Describe(cycle[i % cycle.size()]));
        }
        for (int i = cycle.size() - 1; i >= 0; --i) {
            Press(Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(Describe(Focus()), Describe(cycle[i]));
        }
    }

private slots:
    void initTestCase() {
        audio_ = new TempDir;
        for (const char *name : {"a", "b"}) {
            const std::string mp3 = ToneMp3(*audio_, name, 4, 44100);
            QVERIFY(!mp3.empty());
            oneRate_.push_back(ListedInput(mp3, 44100, tandrel::InputReader::Mp3));
        }
    }
    void cleanupTestCase() { delete audio_; }
    void init() {
        dir_ = new TempDir;
        QDir().mkpath(QString::fromStdString(dir_->File("TDLanguage")));
        QVERIFY(CopyShippedLanguages(*dir_, QStringLiteral(TANDREL_LANG_DIR)));
    }
    void cleanup() {
        delete program_;
        program_ = nullptr;
        delete dir_;
    }

    void everyPageStartsOnItsFirstControlAndTabCyclesThroughIt_data() {
        QTest::addColumn<QString>("language");
        for (const QString &f : ShippedLanguageFiles())
            QTest::newRow(qPrintable(f)) << f;
    }
    void everyPageStartsOnItsFirstControlAndTabCyclesThroughIt() {
        QFETCH(QString, language);
        StoreLanguageChoice(*dir_, language);
        program_ = new ProgramWindows(dir_->Path());
        Open();
        Ui::TOutputForm *w = ui();
        // The format page: the checked format stands for its group.
        VERIFY_CYCLE({w->RadioMP3, w->ButtonNext, w->ButtonCancel});
        Press(Qt::Key_Return); // the default button: Next
        QCOMPARE(w->PageControl1->currentIndex(), 1);
        VERIFY_CYCLE({w->ComboBoxMP3Bitrate, w->CheckBoxMP3CRC, w->CheckBoxMP3Copyright,
                      w->CheckBoxMP3Original, w->CheckBoxMP3Private, w->ButtonBack, w->ButtonNext,
                      w->ButtonCancel});
        w->ButtonBack->setFocus();
        Press(Qt::Key_Space);
        QCOMPARE(w->PageControl1->currentIndex(), 0);
        QCOMPARE(Describe(Focus()), Describe(w->RadioMP3));
        Press(Qt::Key_Down); // the arrows choose within the group
        QVERIFY(w->RadioWMA->isChecked());
        VERIFY_CYCLE({w->RadioWMA, w->ButtonNext, w->ButtonCancel});
        Press(Qt::Key_Return);
        QCOMPARE(w->PageControl1->currentIndex(), 2);
        VERIFY_CYCLE({w->ComboBoxWMABitrate, w->ButtonBack, w->ButtonNext, w->ButtonCancel});
        Press(Qt::Key_Return);
        QCOMPARE(w->PageControl1->currentIndex(), 3);
        // Join waits for a name, so it is left out until there is one.
        VERIFY_CYCLE(
            {w->ButtonSave, w->CheckBoxTags, w->ButtonBack, w->ButtonCancel, w->EditOutputFile});
        w->EditOutputFile->setText(QStringLiteral("/nonexistent-dir/out.wma"));
        VERIFY_CYCLE({w->ButtonSave, w->CheckBoxTags, w->ButtonBack, w->ButtonNext, w->ButtonCancel,
                      w->EditOutputFile});
        QVERIFY2(w->CheckBoxTags->sizeHint().width() <= w->CheckBoxTags->width(),
                 qPrintable(w->CheckBoxTags->text() + " is cut"));
        Press(Qt::Key_Escape);
        QVERIFY(!OutputForm->isVisible());
    }

    // A list whose frames can be kept puts the box first on the MP3 page; checked, it leaves
    // nothing else there for Tab to visit.
    void theFramesBoxLeadsTheMp3PageWhenTheListAllowsIt_data() {
        everyPageStartsOnItsFirstControlAndTabCyclesThroughIt_data();
    }
    void theFramesBoxLeadsTheMp3PageWhenTheListAllowsIt() {
        QFETCH(QString, language);
        StoreLanguageChoice(*dir_, language);
        program_ = new ProgramWindows(dir_->Path());
        OutputForm->CheckKeepFrames(oneRate_);
        Open();
        Ui::TOutputForm *w = ui();
        Press(Qt::Key_Return);
        QCOMPARE(w->PageControl1->currentIndex(), 1);
        VERIFY_CYCLE({w->CheckBoxMP3Copy, w->ComboBoxMP3Bitrate, w->CheckBoxMP3CRC,
                      w->CheckBoxMP3Copyright, w->CheckBoxMP3Original, w->CheckBoxMP3Private,
                      w->ButtonBack, w->ButtonNext, w->ButtonCancel});
        Press(Qt::Key_Space);
        QVERIFY(w->CheckBoxMP3Copy->isChecked());
        VERIFY_CYCLE({w->CheckBoxMP3Copy, w->ButtonBack, w->ButtonNext, w->ButtonCancel});
        QVERIFY2(w->CheckBoxMP3Copy->sizeHint().width() <= w->CheckBoxMP3Copy->width(),
                 qPrintable(w->CheckBoxMP3Copy->text() + " is cut"));
        Press(Qt::Key_Return);
        QCOMPARE(w->PageControl1->currentIndex(), 3);
        Press(Qt::Key_Escape);
        QVERIFY(!OutputForm->isVisible());
    }

    void openedFromTheKeyboardItShowsWhereTheFocusIs() {
        StoreLanguageChoice(*dir_, QStringLiteral("English.ini"));
        program_ = new ProgramWindows(dir_->Path());
        MainForm->show();
        Open();
        QVERIFY(!OutputForm->testAttribute(Qt::WA_KeyboardFocusChange)); // opened by the mouse
        Press(Qt::Key_Escape);
        MainForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(MainForm));
        Press(Qt::Key_Tab);
        Open();
        QVERIFY(OutputForm->testAttribute(Qt::WA_KeyboardFocusChange));
    }

    void aLanguageSwitchLeavesTheNextOpeningWhereTheFirstOneStarted() {
        StoreLanguageChoice(*dir_, QStringLiteral("English.ini"));
        program_ = new ProgramWindows(dir_->Path());
        MainForm->show();
        Open();
        ui()->ButtonCancel->setFocus();
        Press(Qt::Key_Space);
        QVERIFY(!OutputForm->isVisible());
        for (const QString &f : {QStringLiteral("Russian.ini"), QStringLiteral("ChineseGB.ini")}) {
            StoreLanguageChoice(*dir_, f);
            MainForm->ApplyLanguage();
            Open();
            QCOMPARE(Describe(Focus()), Describe(ui()->RadioMP3));
            Press(Qt::Key_Tab);
            QCOMPARE(Describe(Focus()), Describe(ui()->ButtonNext));
            Press(Qt::Key_Escape);
        }
    }
};

QTEST_MAIN(WizardKeysTest)
#include "WizardKeysTest.moc"
