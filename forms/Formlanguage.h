#pragma once

#include <QDialog>

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
};
