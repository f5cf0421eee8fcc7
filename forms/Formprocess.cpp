#include "forms/Formprocess.h"

#include "ui_Formprocess.h"

TProcessForm::TProcessForm(QWidget *parent) : QDialog(parent), ui(new Ui::TProcessForm) {
    ui->setupUi(this);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TProcessForm::ButtonCancelClick);
}

TProcessForm::~TProcessForm() {
    delete ui;
}

void TProcessForm::ButtonCancelClick() {
    cancelled_ = true;
    setResult(ResultCancelled);
    if (StopRequest)
        StopRequest();
}

void TProcessForm::reject() {
    ButtonCancelClick();
}

void TProcessForm::CloseByJoin() {
    done(cancelled_ ? ResultCancelled : ResultFinished);
}

void TProcessForm::JoinEnded(bool failed) {
    JoinFailed = failed;
    CloseByJoin();
}

void TProcessForm::Reset() {
    cancelled_ = false;
    setResult(0);
    ui->ProgressBar1->setValue(0);
    ui->ProgressBar2->setValue(0);
}
