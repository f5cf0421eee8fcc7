#pragma once

#include <QDialog>

namespace Ui {
class TOutputForm;
}

// The wizard that asks for the output format, its settings and the output file. Its controls
// are the join's settings: the join reads them after the wizard has closed.
class TOutputForm : public QDialog {
    Q_OBJECT
public:
    explicit TOutputForm(QWidget *parent = nullptr);
    ~TOutputForm() override;

    Ui::TOutputForm *ui;

    // Texts of the current language that the wizard uses later.
    QString WavFilterText;
    QString Mp3FilterText;
    QString WmaFilterText;
    QString NextCaption;
    QString JoinCaption;
    QString MessageCaption;
    QString QuestionText;

    void FormShow();
    void UpdateWizardButtons();
    void ButtonNextClick();
    void ButtonBackClick();
    void ButtonSaveClick();
    void PageControl1Change();
    void EditOutputFileChange();

    // The extension of the checked format (".wav", ".mp3" or ".wma").
    QString CheckedExtension() const;

protected:
    void showEvent(QShowEvent *e) override;

private:
    // The settings page of the checked format: 0 for WAV (none), 1 for MP3, 2 for WMA.
    int FormatPage() const;
    void UpdateFormatTabStop();
    // Puts the focus on the control the current page starts with.
    void FocusFirstControl();
};

// The chosen name with the extension appended unless it already ends in it (any case).
QString WithExtension(const QString &name, const QString &extension);
