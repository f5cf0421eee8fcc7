#include "forms/Formoutput.h"

#include <QFile>
#include <QFileInfo>

#include "forms/AccessibleLineEdit.h"
#include "forms/AppPaths.h"
#include "forms/Dialogs.h"
#include "forms/Folders.h"
#include "lang/IniFile.h"
#include "ui_Formoutput.h"

namespace {

enum Page { FormatChoice = 0, Mp3Settings = 1, WmaSettings = 2, OutputFile = 3 };

// The tags-and-chapters box and the frames box are the choices kept from join to join, in the
// settings file.
constexpr const char *kChoicesSection = "Output";
constexpr const char *kTagsKey = "TagsAndChapters";
constexpr const char *kKeepFramesKey = "KeepMp3Frames";

tandrel::IniFile Settings() {
    return tandrel::IniFile(QFile::encodeName(SettingsFileOf(ExecutableFolder())).toStdString());
}

bool RememberedChoice(const char *key) {
    return tandrel::TrimBlanks(Settings().ReadString(kChoicesSection, key, "0")) == "1";
}

void RememberChoice(const char *key, bool checked) {
    try {
        Settings().WriteString(kChoicesSection, key, checked ? "1" : "0");
    } catch (const tandrel::IniWriteError &) {
        // An unwritable settings file is reported when the language is stored.
    }
}

} // namespace

TOutputForm::TOutputForm(QWidget *parent) : QDialog(parent), ui(new Ui::TOutputForm) {
    InstallReadOnlyLineEditAccessible(); // before the name field is first asked about
    ui->setupUi(this);
    for (QRadioButton *r : {ui->RadioWAV, ui->RadioMP3, ui->RadioWMA})
        connect(r, &QRadioButton::toggled, this, &TOutputForm::UpdateFormatTabStop);
    connect(ui->ButtonNext, &QPushButton::clicked, this, &TOutputForm::ButtonNextClick);
    connect(ui->ButtonBack, &QPushButton::clicked, this, &TOutputForm::ButtonBackClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->ButtonSave, &QToolButton::clicked, this, &TOutputForm::ButtonSaveClick);
    connect(ui->PageControl1, &QStackedWidget::currentChanged, this,
            &TOutputForm::PageControl1Change);
    connect(ui->EditOutputFile, &QLineEdit::textChanged, this, &TOutputForm::EditOutputFileChange);
    connect(ui->CheckBoxMP3Copy, &QCheckBox::toggled, this, &TOutputForm::UpdateEncodingChoices);
}

TOutputForm::~TOutputForm() {
    delete ui;
}

void TOutputForm::showEvent(QShowEvent *e) {
    // Whoever works the main window from the keyboard sees the focus here from the start.
    if (parentWidget() && parentWidget()->window()->testAttribute(Qt::WA_KeyboardFocusChange))
        setAttribute(Qt::WA_KeyboardFocusChange);
    FormShow();
    QDialog::showEvent(e);
}

void TOutputForm::FormShow() {
    // Nothing but the tags-and-chapters box and the frames box is remembered from an earlier
    // join.
    ui->RadioMP3->setChecked(true);
    ui->ComboBoxMP3Bitrate->setCurrentIndex(3);
    ui->CheckBoxMP3CRC->setChecked(false);
    ui->CheckBoxMP3Copyright->setChecked(false);
    ui->CheckBoxMP3Original->setChecked(false);
    ui->CheckBoxMP3Private->setChecked(false);
    ui->ComboBoxWMABitrate->setCurrentIndex(2);
    ui->EditOutputFile->clear();
    ui->CheckBoxTags->setChecked(RememberedChoice(kTagsKey));
    ShowKeepFrames();
    ui->PageControl1->setCurrentIndex(FormatChoice);
    UpdateWizardButtons();
    FocusFirstControl(); // also when an earlier showing ended on page 0
}

void TOutputForm::UpdateWizardButtons() {
    const int page = ui->PageControl1->currentIndex();
    ui->ButtonBack->setVisible(page != FormatChoice);
    const bool last = page == OutputFile;
    ui->ButtonNext->setText(last ? JoinCaption : NextCaption);
    ui->ButtonNext->setEnabled(!last || !ui->EditOutputFile->text().isEmpty());
}

int TOutputForm::FormatPage() const {
    if (ui->RadioWAV->isChecked())
        return FormatChoice;
    return ui->RadioMP3->isChecked() ? Mp3Settings : WmaSettings;
}

void TOutputForm::ButtonNextClick() {
    const int page = ui->PageControl1->currentIndex();
    if (page == OutputFile) {
        RememberChoice(kTagsKey, ui->CheckBoxTags->isChecked());
        // A list that does not allow it leaves the choice for the next one that does.
        if (ui->CheckBoxMP3Copy->isEnabled())
            RememberChoice(kKeepFramesKey, ui->CheckBoxMP3Copy->isChecked());
        accept(); // the Next button carries the result OK on the last page
        return;
    }
    const int next =
        page == FormatChoice && FormatPage() != FormatChoice ? FormatPage() : OutputFile;
    ui->PageControl1->setCurrentIndex(next);
    UpdateWizardButtons();
}

void TOutputForm::ButtonBackClick() {
    const int page = ui->PageControl1->currentIndex();
    ui->PageControl1->setCurrentIndex(page == OutputFile ? FormatPage() : FormatChoice);
    UpdateWizardButtons();
}

void TOutputForm::PageControl1Change() {
    UpdateWizardButtons();
    FocusFirstControl();
}

void TOutputForm::UpdateFormatTabStop() {
    // Tab enters the format group at its checked button; the arrow keys move within it.
    for (QRadioButton *r : {ui->RadioWAV, ui->RadioMP3, ui->RadioWMA})
        r->setFocusPolicy(r->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void TOutputForm::FocusFirstControl() {
    switch (ui->PageControl1->currentIndex()) {
    case FormatChoice:
        for (QRadioButton *r : {ui->RadioWAV, ui->RadioMP3, ui->RadioWMA})
            if (r->isChecked())
                r->setFocus(Qt::OtherFocusReason);
        break;
    case Mp3Settings:
        (ui->CheckBoxMP3Copy->isEnabled() ? static_cast<QWidget *>(ui->CheckBoxMP3Copy)
                                          : ui->ComboBoxMP3Bitrate)
            ->setFocus(Qt::OtherFocusReason);
        break;
    case WmaSettings:
        ui->ComboBoxWMABitrate->setFocus(Qt::OtherFocusReason);
        break;
    default:
        ui->ButtonSave->setFocus(Qt::OtherFocusReason); // the name field only shows the choice
        break;
    }
}

void TOutputForm::CheckKeepFrames(const std::vector<tandrel::JoinInput> &inputs) {
    keepFrames_ = tandrel::CheckMp3Copy(inputs);
}

void TOutputForm::ShowKeepFrames() {
    QCheckBox *box = ui->CheckBoxMP3Copy;
    box->setEnabled(keepFrames_.allowed);
    box->setChecked(keepFrames_.allowed && RememberedChoice(kKeepFramesKey));
    // The reason is there for the mouse and for screen readers alike.
    const QString why = keepFrames_.allowed ? QString() : QString::fromStdString(keepFrames_.why);
    box->setToolTip(why);
    box->setAccessibleDescription(why);
    UpdateEncodingChoices();
}

void TOutputForm::UpdateEncodingChoices() {
    const bool keep = ui->CheckBoxMP3Copy->isEnabled() && ui->CheckBoxMP3Copy->isChecked();
    ui->GroupBox2->setEnabled(!keep);
    ui->GroupBox3->setEnabled(!keep);
}

void TOutputForm::EditOutputFileChange() {
    UpdateWizardButtons();
}

QString TOutputForm::CheckedExtension() const {
    if (ui->RadioWAV->isChecked())
        return QStringLiteral(".wav");
    return ui->RadioMP3->isChecked() ? QStringLiteral(".mp3") : QStringLiteral(".wma");
}

QString WithExtension(const QString &name, const QString &extension) {
    return name.endsWith(extension, Qt::CaseInsensitive) ? name : name + extension;
}

void TOutputForm::ButtonSaveClick() {
    const QString filter = ui->RadioWAV->isChecked()   ? WavFilterText
                           : ui->RadioMP3->isChecked() ? Mp3FilterText
                                                       : WmaFilterText;
    // Once a name is chosen the dialog opens beside it again; the folder is stored for later
    // runs only when a join into it has finished.
    const QString current = ui->EditOutputFile->text();
    QString folder = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = RememberedFolder(kOutputFileFolderKey);
    for (;;) {
        const QString chosen = Dialogs().GetSaveFileName(this, filter, folder);
        if (chosen.isEmpty())
            return;
        folder = QFileInfo(chosen).absolutePath();
        const QString name = WithExtension(chosen, CheckedExtension());
        if (!QFileInfo::exists(name)) {
            ui->EditOutputFile->setText(name);
            return;
        }
        switch (Dialogs().MessageBox(this, MessageCaption, QuestionText, QMessageBox::Question,
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
        case QMessageBox::Yes:
            ui->EditOutputFile->setText(name);
            return;
        case QMessageBox::No:
            continue; // choose again
        default:
            return;
        }
    }
}
