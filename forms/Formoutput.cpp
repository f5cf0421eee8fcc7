#include "forms/Formoutput.h"

#include <QTabBar>

#include "ui_Formoutput.h"

TOutputForm::TOutputForm(QWidget *parent) : QDialog(parent), ui(new Ui::TOutputForm) {
    ui->setupUi(this);
    ui->PageControl1->tabBar()->hide(); // only the wizard buttons move between the pages
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TOutputForm::~TOutputForm() {
    delete ui;
}
