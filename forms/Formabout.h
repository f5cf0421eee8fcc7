#pragma once

#include <QDialog>

namespace Ui {
class TAboutForm;
}

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *parent = nullptr);
    ~TAboutForm() override;

    Ui::TAboutForm *ui;
    QString HomePageAddress; // the plain address that the link opens

    void Label5Click();
    void Label5MouseEnter();
    void Label5MouseLeave();
};
