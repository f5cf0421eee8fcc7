#pragma once

#include <QDialog>

namespace Ui {
class TOutputForm;
}

class TOutputForm : public QDialog {
    Q_OBJECT
public:
    explicit TOutputForm(QWidget *parent = nullptr);
    ~TOutputForm() override;

    Ui::TOutputForm *ui;

    // Texts of the current language that the wizard uses later.
    QString WavFilterText;
    QString Mp3FilterText;
    QString WmaFilterText;
    QString NextCaption;
    QString JoinCaption;
    QString MessageCaption;
    QString QuestionText;
};
