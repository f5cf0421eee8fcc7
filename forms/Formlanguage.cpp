#include "forms/Formlanguage.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <algorithm>

#include "forms/AppPaths.h"
#include "forms/Dialogs.h"
#include "forms/Links.h"
#include "lang/IniFile.h"
#include "lang/Language.h"
#include "ui_Formlanguage.h"

namespace {

QString DisplayName(const QString &exeFolder, const QString &file) {
    tandrel::LanguageFile reader(
        QFile::encodeName(LanguageFolderOf(exeFolder) + file).toStdString());
    return QString::fromStdString(reader.ReadString("LanguageProperty", "Name", ""));
}

tandrel::IniFile Settings(const QString &exeFolder) {
    return tandrel::IniFile(QFile::encodeName(SettingsFileOf(exeFolder)).toStdString());
}

} // namespace

TLanguageForm::TLanguageForm(QWidget *parent) : QDialog(parent), ui(new Ui::TLanguageForm) {
    ui->setupUi(this);
    connect(ui->ButtonOk, &QPushButton::clicked, this, &TLanguageForm::ButtonOkClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    new TLinkEvents(
        ui->Label2, [this] { Label2MouseEnter(); }, [this] { Label2MouseLeave(); },
        [this] { Label2Click(); });
}

TLanguageForm::~TLanguageForm() {
    delete ui;
}

QStringList TLanguageForm::ListLanguageFiles(const QString &exeFolder) {
    QDir dir(LanguageFolderOf(exeFolder));
    QStringList files = dir.entryList({QStringLiteral("*.ini")},
                                      QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(files.begin(), files.end(), [&](const QString &a, const QString &b) {
        return collator.compare(a, b) < 0;
    });
    return files;
}

QString TLanguageForm::FindLanguageFile(const QString &exeFolder, const QString &name) {
    if (name.isEmpty())
        return name;
    const QStringList files = ListLanguageFiles(exeFolder);
    if (files.contains(name))
        return name;
    for (const QString &f : files)
        if (f.compare(name, Qt::CaseInsensitive) == 0)
            return f;
    return name;
}

void TLanguageForm::showEvent(QShowEvent *e) {
    // Every showing rebuilds the list, so files added to the folder appear.
    FormActivate();
    QDialog::showEvent(e);
}

void TLanguageForm::FormActivate() {
    const QString folder = ExecutableFolder();
    const QStringList files = ListLanguageFiles(folder);
    const QString current = QString::fromStdString(
        tandrel::TrimBlanks(Settings(folder).ReadString("General", "Language", "")));
    // The same file that the main window binds: names match without regard to case.
    const int selected = current.isEmpty() ? -1 : files.indexOf(FindLanguageFile(folder, current));
    ui->ComboBoxLanguage->clear();
    for (const QString &f : files)
        ui->ComboBoxLanguage->addItem(DisplayName(folder, f));
    ui->ComboBoxLanguage->setCurrentIndex(selected);
}

void TLanguageForm::ButtonOkClick() {
    const QString folder = ExecutableFolder();
    const QString chosen =
        ui->ComboBoxLanguage->currentIndex() >= 0 ? ui->ComboBoxLanguage->currentText() : QString();
    QString file;
    if (!chosen.isEmpty()) {
        for (const QString &f : ListLanguageFiles(folder)) {
            if (DisplayName(folder, f).compare(chosen, Qt::CaseInsensitive) == 0) {
                file = f;
                break;
            }
        }
    }
    Settings(folder).WriteString("General", "Language", file.toStdString());
    accept();
}

void TLanguageForm::Label2MouseEnter() {
    SetUnderline(ui->Label2, true);
}

void TLanguageForm::Label2MouseLeave() {
    SetUnderline(ui->Label2, false);
}

void TLanguageForm::Label2Click() {
    Dialogs().ShellOpen(this, TranslateFilePath);
}
