#include "forms/Formabout.h"

#include <QEvent>
#include <QMouseEvent>

#include "forms/Dialogs.h"
#include "forms/Links.h"
#include "ui_Formabout.h"

TAboutForm::TAboutForm(QWidget *parent) : QDialog(parent), ui(new Ui::TAboutForm) {
    ui->setupUi(this);
    connect(ui->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    ui->Label5->installEventFilter(this);
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

bool TAboutForm::eventFilter(QObject *watched, QEvent *e) {
    if (watched == ui->Label5) {
        if (e->type() == QEvent::Enter)
            Label5MouseEnter();
        else if (e->type() == QEvent::Leave)
            Label5MouseLeave();
        else if (e->type() == QEvent::MouseButtonRelease &&
                 static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton)
            Label5Click();
    }
    return QDialog::eventFilter(watched, e);
}
