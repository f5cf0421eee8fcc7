// Puts the current language on all five windows.
#include <QDate>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTreeWidget>

#include "audio/Probe.h"
#include "forms/AppPaths.h"
#include "forms/AudioFileEntry.h"
#include "forms/Dialogs.h"
#include "forms/Formabout.h"
#include "forms/Formlanguage.h"
#include "forms/Formmain.h"
#include "forms/Formoutput.h"
#include "forms/Formprocess.h"
#include "forms/Forms.h"
#include "forms/QtLanguage.h"
#include "lang/Language.h"
#include "lang/MessageTexts.h"
#include "ui_Formabout.h"
#include "ui_Formlanguage.h"
#include "ui_Formmain.h"
#include "ui_Formoutput.h"
#include "ui_Formprocess.h"

namespace {

void SetWindowFont(QWidget *window, const tandrel::LanguageFont &font) {
    if (!window)
        return;
    QFont f = window->font();
    f.setFamily(QString::fromStdString(font.name));
    f.setPointSize(font.size > 0 ? font.size : 8);
    window->setFont(f);
    // Texts arrive decoded; the character set is kept for whoever draws them.
    window->setProperty("CharSet", font.charSet);
}

// A caption as a screen reader should say it: no "&" of a mnemonic, no closing colon.
QString SpokenText(QString caption) {
    caption.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    caption = caption.trimmed();
    while (caption.endsWith(':') || caption.endsWith(QChar(0xFF1A)))
        caption = caption.left(caption.size() - 1).trimmed();
    return caption;
}

// Names for the controls whose captions do not say what they are, from the texts they show
// beside them or the hints of the language file.
void NameControls(const TMainForm &main) {
    const auto hint = [&](const char *key) { return main.Text("Hint", key); };
    main.ui->ButtonUp->setAccessibleName(hint("Up"));
    main.ui->ButtonDown->setAccessibleName(hint("Down"));
    main.ui->ListView1->setAccessibleName(main.Text("ListView", "Name"));
    SetMessageIconNames(hint("Information"), hint("Warning"), hint("Error"), hint("Question"));
    if (AboutForm)
        AboutForm->ui->Image1->setAccessibleName(AboutForm->ui->Label1->text());
    if (ProcessForm) {
        Ui::TProcessForm *p = ProcessForm->ui;
        p->ProgressBar1->setAccessibleName(SpokenText(p->Label2->text()));
        p->ProgressBar2->setAccessibleName(SpokenText(p->Label3->text()));
    }
    if (LanguageForm) {
        Ui::TLanguageForm *l = LanguageForm->ui;
        l->ComboBoxLanguage->setAccessibleName(SpokenText(l->Label1->text()));
    }
    if (OutputForm) {
        Ui::TOutputForm *o = OutputForm->ui;
        o->ComboBoxMP3Bitrate->setAccessibleName(o->GroupBox2->title());
        o->ComboBoxWMABitrate->setAccessibleName(o->GroupBox4->title());
        o->EditOutputFile->setAccessibleName(o->GroupBox5->title());
        o->ButtonSave->setAccessibleName(hint("Save"));
        o->ButtonSave->setToolTip(hint("Save"));
    }
}

// A text newer than some language files: their own when they have it, else the English.
QString OrEnglish(const QString &text, const char *english) {
    return text.isEmpty() ? QString::fromUtf8(english) : text;
}

// The Add dialog's filter: a first line for every audio extension, so that it is the one the
// dialog starts with, then the language file's own lines.
QString AddDialogFilter(QString allAudio, const QString &languageFilter) {
    if (allAudio.isEmpty())
        allAudio = QStringLiteral("All audio files");
    QStringList patterns;
    for (const std::string &extension : tandrel::AudioExtensions())
        patterns << QLatin1Char('*') + QString::fromStdString(extension);
    const QString filter = allAudio + QLatin1Char('(') + patterns.join(',') + QStringLiteral(")|") +
                           patterns.join(';');
    return languageFilter.isEmpty() ? filter : filter + QLatin1Char('|') + languageFilter;
}

} // namespace

void TMainForm::ApplyLanguage() {
    // Load: the settings file names the language; at the first start the locale chooses it.
    tandrel::LanguageChoice choice = tandrel::ChooseLanguage(
        QFile::encodeName(SettingsFileOf(ExeFolder)).toStdString(),
        tandrel::LangIdFromLocaleName(QLocale::system().name().toStdString()));
    // The stored name binds the file whose name matches it without regard to case, as the
    // language dialog selects it; the file's real name is opened.
    const QString fileName =
        TLanguageForm::FindLanguageFile(ExeFolder, QString::fromStdString(choice.fileName));
    LanguageFile.reset();
    LanguageFile = std::make_unique<tandrel::LanguageFile>(
        QFile::encodeName(LanguageFolderOf(ExeFolder) + fileName).toStdString());
    tandrel::SetMessageLanguage(LanguageFile->Path()); // the engine's messages too
    // Qt's own texts (file dialogs, message box buttons, context menus) follow the language.
    InstallQtTranslation(QString::fromStdString(tandrel::LanguageFileLocale(*LanguageFile)));
    if (choice.writeFailed && !settingsErrorShown_) {
        // Once per run: the language chosen from the locale still applies for this run.
        settingsErrorShown_ = true;
        ShowException(QString::fromStdString(
            tandrel::MsgText(tandrel::Msg::SettingsNotWritable, {choice.settingsPath})));
    }

    const tandrel::LanguageFont font = LanguageFile->Font();
    QWidget *windows[] = {this, AboutForm, ProcessForm, OutputForm, LanguageForm};
    for (QWidget *w : windows)
        SetWindowFont(w, font);

    Ui::TMainForm *m = ui;
    m->ButtonAdd->setText(Text("ToolBar", "Add"));
    m->ButtonRemove->setText(Text("ToolBar", "Remove"));
    m->ButtonClear->setText(Text("ToolBar", "Clear"));
    m->ButtonJoin->setText(Text("ToolBar", "Join"));
    m->ButtonLanguage->setText(Text("ToolBar", "Language"));
    m->ButtonAbout->setText(Text("ToolBar", "About"));
    m->ButtonUpdate->setText(Text("ToolBar", "Update"));
    FitToolBar();
    m->ButtonAdd->setToolTip(Text("Hint", "Add"));
    m->ButtonRemove->setToolTip(Text("Hint", "Remove"));
    m->ButtonClear->setToolTip(Text("Hint", "Clear"));
    m->ButtonJoin->setToolTip(Text("Hint", "Join"));
    m->ButtonLanguage->setToolTip(Text("Hint", "Language"));
    m->ButtonAbout->setToolTip(Text("Hint", "About"));
    m->ButtonUpdate->setToolTip(Text("Hint", "Update"));
    m->ButtonUp->setToolTip(Text("Hint", "Up"));
    m->ButtonDown->setToolTip(Text("Hint", "Down"));
    const char *columnKeys[] = {"Name", "Frequency", "Channels", "Sample", "Size", "Time", "Path"};
    QTreeWidgetItem *header = m->ListView1->headerItem();
    for (int c = 0; c < 7; ++c)
        header->setText(c, Text("ListView", columnKeys[c]));

    // Rows already in the list follow the language at once.
    const QString bits = Text("ListView", "Bits");
    const QString mono = Text("ListView", "Mono");
    const QString stereo = Text("ListView", "Stereo");
    for (int i = 0; i < m->ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = m->ListView1->topLevelItem(i);
        SetSubItem(row, 1, SubItem(row, 7) == QLatin1String("1") ? mono : stereo);
        SetSubItem(row, 2, SubItem(row, 8) + ' ' + bits);
    }

    OpenDialog1.Filter =
        AddDialogFilter(Text("OpenDialog", "AllAudio"), Text("OpenDialog", "Filter"));
    if (OutputForm) {
        OutputForm->WavFilterText = Text("SaveDialog", "WAVFilter");
        OutputForm->Mp3FilterText = Text("SaveDialog", "MP3Filter");
        OutputForm->WmaFilterText = Text("SaveDialog", "WMAFilter");
    }

    if (AboutForm) {
        Ui::TAboutForm *a = AboutForm->ui;
        AboutForm->setWindowTitle(Text("AboutForm", "Caption"));
        a->Label2->setText(Text("AboutForm", "Version"));
        a->Label4->setText(Text("AboutForm", "HomePage"));
        a->Label6->setText(Text("AboutForm", "Translator"));
        a->Label7->setText(Text("LanguageProperty", "Translator"));
        a->ButtonOk->setText(Text("Common", "Ok"));
        a->Label8->setText(QString::fromStdString(tandrel::FillCopyrightYear(
            LanguageFile->ReadString("AboutForm", "Copyright", ""), QDate::currentDate().year())));
    }

    if (ProcessForm) {
        Ui::TProcessForm *p = ProcessForm->ui;
        ProcessForm->setWindowTitle(Text("ProcessForm", "Caption"));
        p->Label2->setText(Text("ProcessForm", "Joining"));
        p->Label3->setText(Text("ProcessForm", "Encoding"));
        p->ButtonCancel->setText(Text("Common", "Cancel"));
    }

    if (LanguageForm) {
        Ui::TLanguageForm *l = LanguageForm->ui;
        LanguageForm->setWindowTitle(Text("LanguageForm", "Caption"));
        l->Label1->setText(Text("LanguageForm", "Language"));
        l->Label2->setText(Text("LanguageForm", "Translate"));
        l->ButtonOk->setText(Text("Common", "Ok"));
        l->ButtonCancel->setText(Text("Common", "Cancel"));
    }

    if (OutputForm) {
        Ui::TOutputForm *o = OutputForm->ui;
        OutputForm->setWindowTitle(Text("OutputForm", "Caption"));
        o->GroupBox1->setTitle(Text("OutputForm", "OutputFormat"));
        o->GroupBox2->setTitle(Text("OutputForm", "Bitrate"));
        o->GroupBox3->setTitle(Text("OutputForm", "Sign"));
        o->CheckBoxMP3CRC->setText(Text("OutputForm", "CheckCRC"));
        o->CheckBoxMP3Copyright->setText(Text("OutputForm", "CheckCopyright"));
        o->CheckBoxMP3Original->setText(Text("OutputForm", "CheckOriginal"));
        o->CheckBoxMP3Private->setText(Text("OutputForm", "CheckPrivate"));
        o->CheckBoxMP3Copy->setText(OrEnglish(Text("OutputForm", "CheckKeepFrames"),
                                              "Keep the MP3 files' frames (no re-encoding)"));
        o->GroupBox4->setTitle(Text("OutputForm", "Bitrate"));
        o->GroupBox5->setTitle(Text("OutputForm", "OutputFile"));
        o->CheckBoxTags->setText(OrEnglish(Text("OutputForm", "CheckTags"),
                                           "Copy tags and write a chapter for each file"));
        o->ButtonBack->setText(Text("OutputForm", "Back"));
        o->ButtonNext->setText(Text("OutputForm", "Next"));
        o->ButtonCancel->setText(Text("Common", "Cancel"));
        OutputForm->NextCaption = Text("OutputForm", "Next");
        OutputForm->JoinCaption = Text("OutputForm", "Join");
        OutputForm->MessageCaption = Text("Common", "Message");
        OutputForm->QuestionText = Text("OutputForm", "Question");
    }
    NameControls(*this);
}
