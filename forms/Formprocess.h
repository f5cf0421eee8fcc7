#pragma once

#include <QDialog>
#include <functional>

namespace Ui {
class TProcessForm;
}

// The progress dialog of a join. Only the join closes it; Cancel asks the join to stop at
// once and leaves the result 1, which the join's closing keeps.
class TProcessForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int ResultCancelled = 1;
    static constexpr int ResultFinished = 2;

    explicit TProcessForm(QWidget *parent = nullptr);
    ~TProcessForm() override;

    Ui::TProcessForm *ui;
    bool JoinFailed = false;
    // Asks the running join to stop; set by whoever starts the join.
    std::function<void()> StopRequest;

    void ButtonCancelClick();
    // The join's ending: closes the dialog with the result 2 unless Cancel gave it 1.
    void CloseByJoin();
    // The join has ended (failed: it showed why); records that and closes the dialog.
    void JoinEnded(bool failed);
    // Made ready for the next join: bars at 0, no cancel recorded.
    void Reset();

    void reject() override; // Escape and the close box act as Cancel

private:
    bool cancelled_ = false;
};
