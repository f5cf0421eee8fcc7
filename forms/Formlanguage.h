#pragma once

#include <QDialog>
#include <QStringList>

namespace Ui {
class TLanguageForm;
}

class TLanguageForm : public QDialog {
    Q_OBJECT
public:
    explicit TLanguageForm(QWidget *parent = nullptr);
    ~TLanguageForm() override;

    Ui::TLanguageForm *ui;
    QString TranslateFilePath; // the file that the translate link opens

    // Names of the files "TDLanguage/*.ini" beside the program, sorted without regard to case.
    static QStringList ListLanguageFiles(const QString &exeFolder);
    // The real name of the language file that a stored name means: names are matched without
    // regard to case, an exact match first, else the first in ListLanguageFiles' order. A name
    // that matches no file comes back unchanged.
    static QString FindLanguageFile(const QString &exeFolder, const QString &name);

    void FormActivate();
    void ButtonOkClick();
    void Label2MouseEnter();
    void Label2MouseLeave();
    void Label2Click();

protected:
    void showEvent(QShowEvent *e) override;
};
