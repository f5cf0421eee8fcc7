#include "forms/Formmain.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStatusBar>
#include <algorithm>

#include "audio/Decoding.h"
#include "common/Encodestring.h"
#include "forms/AppPaths.h"
#include "forms/CppWebBrowser.h"
#include "forms/Dialogs.h"
#include "lang/IniFile.h"
#include "lang/MessageTexts.h"
#include "ui_Formmain.h"

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent), ui(new Ui::TMainForm) {
    ui->setupUi(this);
    // Only the width has a minimum (the layout's own would also hold the height at its contents').
    layout()->setSizeConstraint(QLayout::SetNoConstraint);

    // Captions under the pictures may take the buttons' whole width.
    for (QToolButton *b : ui->Panel1->findChildren<QToolButton *>())
        b->setStyleSheet(QStringLiteral("QToolButton { padding: 0px; border: none; }"
                                        "QToolButton:hover { background: palette(midlight); }"
                                        "QToolButton:pressed { background: palette(mid); }"));

    QHeaderView *header = ui->ListView1->header();
    header->setSectionsMovable(false);
    const int widths[] = {150, 80, 60, 50, 80, 60, 160};
    for (int c = 0; c < 7; ++c)
        ui->ListView1->setColumnWidth(c, widths[c]);
    ui->ListView1->installEventFilter(this);

    for (int i = 0; i < 2; ++i) {
        statusPanels_[i] = new QLabel(ui->StatusBar1);
        statusPanels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusPanels_[i]->setFixedWidth(i == 0 ? 200 : 300);
        ui->StatusBar1->addWidget(statusPanels_[i]);
    }
    ui->StatusBar1->setFixedHeight(19);

    connect(ui->ButtonAdd, &QToolButton::clicked, this, &TMainForm::ButtonAddClick);
    connect(ui->ButtonRemove, &QToolButton::clicked, this, &TMainForm::ButtonRemoveClick);
    connect(ui->ButtonClear, &QToolButton::clicked, this, &TMainForm::ButtonClearClick);
    connect(ui->ButtonUp, &QToolButton::clicked, this, &TMainForm::ButtonUpClick);
    connect(ui->ButtonDown, &QToolButton::clicked, this, &TMainForm::ButtonDownClick);
    connect(ui->ButtonJoin, &QToolButton::clicked, this, &TMainForm::ButtonJoinClick);
    connect(ui->ButtonLanguage, &QToolButton::clicked, this, &TMainForm::ButtonLanguageClick);
    connect(ui->ButtonAbout, &QToolButton::clicked, this, &TMainForm::ButtonAboutClick);
    connect(ui->ButtonUpdate, &QToolButton::clicked, this, &TMainForm::ButtonUpdateClick);
    connect(ui->CppWebBrowser1, &TCppWebBrowser::DocumentComplete, this,
            &TMainForm::CppWebBrowser1DocumentComplete);
    ApplicationEvents1 = new TApplicationEvents(this);
    connect(ApplicationEvents1, &TApplicationEvents::OnMessage, this,
            &TMainForm::ApplicationEvents1Message);

    // Centred on the desktop at start.
    if (QScreen *desktop = QGuiApplication::primaryScreen())
        move(desktop->availableGeometry().center() - rect().center());

    FormCreate();
}

TMainForm::~TMainForm() {
    FormDestroy();
    delete ui;
}

void TMainForm::FormCreate() {
    TempFolder = QDir::tempPath();
    if (!TempFolder.isEmpty() && !TempFolder.endsWith('/'))
        TempFolder += '/';
    TempPcmPath = TempFolder + QStringLiteral("AudioTemp.pcm");
    // Known before the decoders are readied, so that the settings and language files are
    // found beside the program even when it cannot start.
    ExeFolder = ExecutableFolder();

    if (!tandrel::InitDecoding()) {
        tandrel::EndDecoding();
        ApplyLanguage(); // the message is shown before the first activation would load it
        Dialogs().MessageBox(
            nullptr, QString::fromStdString(tandrel::MsgText(tandrel::Msg::ErrorCaption)),
            QString::fromStdString(tandrel::MsgText(tandrel::Msg::NoPlayingDevice)),
            QMessageBox::Critical, QMessageBox::Ok);
        return;
    }

    setAcceptDrops(true);
    UpdateAddress = QString::fromLatin1(kScrambledHomePage);
    tandrel::IniFile settings(QFile::encodeName(SettingsFileOf(ExeFolder)).toStdString());
    settings.ReadString("General", "Ad", "");
    // Whatever "Ad" says, the banner stays hidden, outside the visible area.
    ui->CppWebBrowser1->setVisible(false);
    ui->CppWebBrowser1->move(width() + 100, ui->CppWebBrowser1->y());
}

void TMainForm::FormActivate() {
    ApplyLanguage();
}

void TMainForm::FormDestroy() {
    tandrel::EndDecoding();
    LanguageFile.reset();
}

bool TMainForm::event(QEvent *e) {
    if (e->type() == QEvent::WindowActivate)
        FormActivate();
    return QMainWindow::event(e);
}

void TMainForm::showEvent(QShowEvent *e) {
    QMainWindow::showEvent(e);
    // The first showing counts as an activation even where no window manager activates us.
    if (!LanguageFile)
        FormActivate();
}

namespace {

// A caption as it is drawn: "&&" shows "&", a single "&" marks the accelerator.
QString ShownCaption(const QString &text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

} // namespace

void TMainForm::FitToolBar() {
    // At least the width the pictures were drawn for; the groups keep their separators.
    constexpr int kMinWidth = 57, kSeparatorGap = 6, kTextMargin = 6;
    QWidget *const order[] = {ui->ButtonAdd,   ui->ButtonRemove, ui->ButtonClear,    ui->Bevel1,
                              ui->ButtonJoin,  ui->Bevel2,       ui->ButtonLanguage, ui->Bevel3,
                              ui->ButtonAbout, ui->ButtonUpdate};
    int x = 2;
    for (QWidget *w : order) {
        auto *button = qobject_cast<QToolButton *>(w);
        if (!button) {
            w->move(x + kSeparatorGap, w->y());
            x += 2 * kSeparatorGap + w->width();
            continue;
        }
        const int text = button->fontMetrics().horizontalAdvance(ShownCaption(button->text()));
        const int width = std::max({kMinWidth, text + 2 * kTextMargin, button->sizeHint().width()});
        button->setGeometry(x, button->y(), width, button->height());
        x += width;
    }
}

std::string TMainForm::LanguageText(const char *section, const char *key) const {
    return LanguageFile ? LanguageFile->ReadString(section, key, "") : std::string();
}

QString TMainForm::Text(const char *section, const char *key) const {
    return QString::fromStdString(LanguageText(section, key));
}
