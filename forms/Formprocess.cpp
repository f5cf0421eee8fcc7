#include "forms/Formprocess.h"

#include "ui_Formprocess.h"

TProcessForm::TProcessForm(QWidget *parent) : QDialog(parent), ui(new Ui::TProcessForm) {
    ui->setupUi(this);
}

TProcessForm::~TProcessForm() {
    delete ui;
}
