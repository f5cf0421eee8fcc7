#include "forms/Formlanguage.h"

#include "ui_Formlanguage.h"

TLanguageForm::TLanguageForm(QWidget *parent) : QDialog(parent), ui(new Ui::TLanguageForm) {
    ui->setupUi(this);
    connect(ui->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TLanguageForm::~TLanguageForm() {
    delete ui;
}
