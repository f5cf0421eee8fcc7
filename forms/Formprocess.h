#pragma once

#include <QDialog>

namespace Ui {
class TProcessForm;
}

class TProcessForm : public QDialog {
    Q_OBJECT
public:
    explicit TProcessForm(QWidget *parent = nullptr);
    ~TProcessForm() override;

    Ui::TProcessForm *ui;
    bool JoinFailed = false;
};
