// What a screen reader is told about the windows, read through the accessibility interfaces the
// desktop's bus is fed from, in every shipped language.
#include <QtTest>

#include <QAccessible>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTreeWidget>

#include "ProgramWindows.h"
#include "ShippedLanguages.h"
#include "forms/AudioFileEntry.h"
#include "forms/Formabout.h"
#include "forms/Formlanguage.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "ui_Formlanguage.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

using testutil::TempDir;

namespace {

// Kinds of control a user operates or has read out, which mean nothing without a name.
bool NeedsName(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::List:
    case QAccessible::Tree:
    case QAccessible::Table:
    case QAccessible::ProgressBar:
    case QAccessible::Graphic:
    case QAccessible::Link:
    case QAccessible::PageTab:
        return true;
    default:
        return false;
    }
}

// "..." or a blank names nothing.
bool IsName(const QString &text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); });
}

QString Describe(QAccessibleInterface *a) {
    const QString name = a->object() ? a->object()->objectName() : QString();
    return QStringLiteral("%1 (role %2, name '%3')")
        .arg(name)
        .arg(int(a->role()))
        .arg(a->text(QAccessible::Name));
}

// The visible controls under `a` that need a name and have none.
void CollectUnnamed(QAccessibleInterface *a, QStringList &out) {
    for (int i = 0; i < a->childCount(); ++i) {
        QAccessibleInterface *child = a->child(i);
        if (!child || child->state().invisible)
            continue;
        const bool reachable = child->state().focusable || NeedsName(child->role());
        if (reachable && !IsName(child->text(QAccessible::Name)))
            out << Describe(child);
        CollectUnnamed(child, out);
    }
}

QStringList Unnamed(QWidget *window) {
    QStringList out;
    if (QAccessibleInterface *a = QAccessible::queryAccessibleInterface(window))
        CollectUnnamed(a, out);
    return out;
}

// Every role in the tree under `a`, hidden parts included: what the bus may be asked about.
void CollectRoles(QAccessibleInterface *a, QList<QAccessible::Role> &out) {
    for (int i = 0; i < a->childCount(); ++i) {
        if (QAccessibleInterface *child = a->child(i)) {
            out << child->role();
            CollectRoles(child, out);
        }
    }
}

bool IsLabelledBy(QWidget *control, QWidget *label) {
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(control);
    for (const auto &[other, relation] : a->relations(QAccessible::Label))
        if (other->object() == label)
            return true;
    return false;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
    TempDir *dir_ = nullptr;
    ProgramWindows *program_ = nullptr;

    void Start(const QString &language) {
        StoreLanguageChoice(*dir_, language);
        program_ = new ProgramWindows(dir_->Path());
    }

    // The names missing in a real message box of each kind, as the program shows them.
    QStringList UnnamedInMessageBoxes() {
        QStringList out;
        TDialogs real;
        for (auto icon : {QMessageBox::Information, QMessageBox::Warning, QMessageBox::Critical,
                          QMessageBox::Question}) {
            QTimer::singleShot(0, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box)
                    return;
                out << Unnamed(box);
                box->done(QMessageBox::Ok);
            });
            real.MessageBox(MainForm, QStringLiteral("Caption"), QStringLiteral("Text"), icon,
                            QMessageBox::Ok);
        }
        return out;
    }

private slots:
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

    void everyReachableControlHasAName_data() {
        QTest::addColumn<QString>("language");
        for (const QString &f : ShippedLanguageFiles())
            QTest::newRow(qPrintable(f)) << f;
    }
    void everyReachableControlHasAName() {
        QFETCH(QString, language);
        Start(language);
        QStringList unnamed;
        for (QWidget *w :
             {static_cast<QWidget *>(MainForm), static_cast<QWidget *>(AboutForm),
              static_cast<QWidget *>(LanguageForm), static_cast<QWidget *>(ProcessForm)}) {
            w->show();
            unnamed << Unnamed(w);
        }
        OutputForm->show();
        for (int page = 0; page < 4; ++page) {
            OutputForm->ui->PageControl1->setCurrentIndex(page);
            unnamed << Unnamed(OutputForm);
        }
        unnamed << UnnamedInMessageBoxes();
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral("; "))));
        // The icon-only button says what it does, beyond its name.
        QAccessibleInterface *save =
            QAccessible::queryAccessibleInterface(OutputForm->ui->ButtonSave);
        QVERIFY(IsName(save->text(QAccessible::Description)));
    }

    void theListOffersOnlyTheColumnsItShows() {
        Start(QStringLiteral("English.ini"));
        QTreeWidget *list = MainForm->ui->ListView1;
        auto *row = new QTreeWidgetItem(list, QStringList(QStringLiteral("a.wav")));
        const QStringList shown = {"44100 Hz", "Stereo", "16 Bits", "1 KB", "00:12", "/music/"};
        const QStringList raw = {"44100", "2", "16", "12"};
        for (int k = 0; k < kSubItemCount; ++k)
            SetSubItem(row, k, k < 6 ? shown[k] : raw[k - 6]);
        MainForm->show();
        QAccessibleTableInterface *table =
            QAccessible::queryAccessibleInterface(list)->tableInterface();
        QVERIFY(table);
        QCOMPARE(table->columnCount(), 7);
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->cellAt(0, c)->text(QAccessible::Name);
        QCOMPARE(cells, QStringList{"a.wav"} + shown);
        // The program still has its raw values.
        for (int k = 6; k < kSubItemCount; ++k)
            QCOMPARE(SubItem(row, k), raw[k - 6]);
    }

    void labelsAreTheBuddiesOfWhatTheyDescribe() {
        Start(QStringLiteral("German.ini"));
        Ui::TProcessForm *p = ProcessForm->ui;
        QVERIFY(IsLabelledBy(p->ProgressBar1, p->Label2));
        QVERIFY(IsLabelledBy(p->ProgressBar2, p->Label3));
        QVERIFY(IsLabelledBy(LanguageForm->ui->ComboBoxLanguage, LanguageForm->ui->Label1));
        QCOMPARE(p->ProgressBar1->accessibleName(), QString("Verbinden"));
    }

    // The frames box a list does not allow is read out as unavailable, with the reason.
    void theFramesBoxThatIsOffSaysWhy() {
        Start(QStringLiteral("English.ini"));
        OutputForm->CheckKeepFrames(
            {{"/music/a.mp3", {44100, 2, 16}, -1, tandrel::InputReader::Mp3},
             {"/music/b.wav", {44100, 2, 16}, -1, tandrel::InputReader::Wav}});
        OutputForm->show();
        OutputForm->ui->PageControl1->setCurrentIndex(1);
        QAccessibleInterface *box =
            QAccessible::queryAccessibleInterface(OutputForm->ui->CheckBoxMP3Copy);
        QVERIFY(box->state().disabled);
        QCOMPARE(box->text(QAccessible::Name),
                 QString("Keep the MP3 files' frames (no re-encoding)"));
        QCOMPARE(box->text(QAccessible::Description), QString("'/music/a.mp3' is not an MP3 file"));
    }

    void theWizardShowsNoTabsAndItsNameFieldOnlyReads() {
        Start(QStringLiteral("English.ini"));
        OutputForm->show();
        QList<QAccessible::Role> roles;
        CollectRoles(QAccessible::queryAccessibleInterface(OutputForm), roles);
        QVERIFY(!roles.contains(QAccessible::PageTabList));
        QVERIFY(!roles.contains(QAccessible::PageTab));
        OutputForm->ui->PageControl1->setCurrentIndex(3);
        QAccessibleInterface *field =
            QAccessible::queryAccessibleInterface(OutputForm->ui->EditOutputFile);
        QVERIFY(field->state().readOnly);
        QVERIFY(!field->state().editable);
        OutputForm->ui->EditOutputFile->setText(QStringLiteral("/music/all.mp3"));
        QCOMPARE(field->textInterface()->text(0, -1), QString("/music/all.mp3"));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
