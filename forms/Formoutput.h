#pragma once

#include <QDialog>

#include "join/Mp3Copy.h"

#include <vector>

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

    // Asks whether the list about to be joined lets the MP3 page keep the files' frames; the
    // next showing offers the box, or says why not.
    void CheckKeepFrames(const std::vector<tandrel::JoinInput> &inputs);

protected:
    void showEvent(QShowEvent *e) override;

private:
    // The settings page of the checked format: 0 for WAV (none), 1 for MP3, 2 for WMA.
    int FormatPage() const;
    void UpdateFormatTabStop();
    // The frames box as the list allows, in its remembered state.
    void ShowKeepFrames();
    // Kept frames leave nothing for the bitrate and the flags to choose.
    void UpdateEncodingChoices();
    // Puts the focus on the control the current page starts with.
    void FocusFirstControl();

    tandrel::Mp3CopyCheck keepFrames_;
};

// The chosen name with the extension appended unless it already ends in it (any case).
QString WithExtension(const QString &name, const QString &extension);
