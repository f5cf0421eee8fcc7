#include "forms/Formabout.h"

#include "ui_Formabout.h"

TAboutForm::TAboutForm(QWidget *parent) : QDialog(parent), ui(new Ui::TAboutForm) {
    ui->setupUi(this);
    connect(ui->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
}

TAboutForm::~TAboutForm() {
    delete ui;
}
