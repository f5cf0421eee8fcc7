#include "forms/Formabout.h"

#include "forms/Dialogs.h"
#include "forms/Links.h"
#include "ui_Formabout.h"

TAboutForm::TAboutForm(QWidget *parent) : QDialog(parent), ui(new Ui::TAboutForm) {
    ui->setupUi(this);
    connect(ui->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    new TLinkEvents(
        ui->Label5, [this] { Label5MouseEnter(); }, [this] { Label5MouseLeave(); },
        [this] { Label5Click(); });
}

TAboutForm::~TAboutForm() {
    delete ui;
}

void TAboutForm::Label5Click() {
    Dialogs().ShellOpen(this, HomePageAddress);
}

void TAboutForm::Label5MouseEnter() {
    SetUnderline(ui->Label5, true);
}

void TAboutForm::Label5MouseLeave() {
    SetUnderline(ui->Label5, false);
}
