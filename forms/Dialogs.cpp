#include "forms/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include "common/Messages.h"

namespace {

TDialogs g_realDialogs;
TDialogs *g_dialogs = nullptr;

QMessageBox::Icon ToQtIcon(tandrel::MsgIcon icon) {
    switch (icon) {
    case tandrel::MsgIcon::Information:
        return QMessageBox::Information;
    case tandrel::MsgIcon::Warning:
        return QMessageBox::Warning;
    case tandrel::MsgIcon::Error:
        return QMessageBox::Critical;
    case tandrel::MsgIcon::Question:
        return QMessageBox::Question;
    case tandrel::MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

class EngineBridge : public tandrel::MessageSink {
public:
    // A join asks from its own thread: the box is shown on the window's, and the join waits
    // there for the answer.
    tandrel::MsgAnswer Show(const std::string &caption, const std::string &text,
                            tandrel::MsgIcon icon, tandrel::MsgButtons buttons) override {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app || QThread::currentThread() == app->thread())
            return ShowHere(caption, text, icon, buttons);
        tandrel::MsgAnswer answer = tandrel::MsgAnswer::Cancel;
        QMetaObject::invokeMethod(
            app, [&] { answer = ShowHere(caption, text, icon, buttons); },
            Qt::BlockingQueuedConnection);
        return answer;
    }

private:
    static tandrel::MsgAnswer ShowHere(const std::string &caption, const std::string &text,
                                       tandrel::MsgIcon icon, tandrel::MsgButtons buttons) {
        auto qtButtons = buttons == tandrel::MsgButtons::Ok
                             ? QMessageBox::StandardButtons(QMessageBox::Ok)
                             : QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        switch (Dialogs().MessageBox(nullptr, QString::fromStdString(caption),
                                     QString::fromStdString(text), ToQtIcon(icon), qtButtons)) {
        case QMessageBox::Yes:
            return tandrel::MsgAnswer::Yes;
        case QMessageBox::No:
            return tandrel::MsgAnswer::No;
        case QMessageBox::Cancel:
            return tandrel::MsgAnswer::Cancel;
        default:
            return tandrel::MsgAnswer::Ok;
        }
    }
};

EngineBridge g_bridge;

QString g_iconNames[4]; // information, warning, error, question

QString IconName(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Information:
        return g_iconNames[0];
    case QMessageBox::Warning:
        return g_iconNames[1];
    case QMessageBox::Critical:
        return g_iconNames[2];
    case QMessageBox::Question:
        return g_iconNames[3];
    default:
        return QString();
    }
}

} // namespace

TDialogs &Dialogs() {
    return g_dialogs ? *g_dialogs : g_realDialogs;
}

TDialogs *SetDialogs(TDialogs *dialogs) {
    TDialogs *old = g_dialogs;
    g_dialogs = dialogs;
    return old;
}

void SetMessageIconNames(const QString &information, const QString &warning, const QString &error,
                         const QString &question) {
    g_iconNames[0] = information;
    g_iconNames[1] = warning;
    g_iconNames[2] = error;
    g_iconNames[3] = question;
}

void InstallEngineMessageBridge() {
    tandrel::SetMessages(&g_bridge);
}

QMessageBox::StandardButton TDialogs::MessageBox(QWidget *owner, const QString &caption,
                                                 const QString &text, QMessageBox::Icon icon,
                                                 QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons, owner);
    // Qt's label that shows the icon; a screen reader would announce it without a name.
    if (auto *picture = box.findChild<QLabel *>(QStringLiteral("qt_msgboxex_icon_label")))
        picture->setAccessibleName(IconName(icon));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QStringList TDialogs::GetOpenFileNames(QWidget *owner, const QString &filter,
                                       const QString &folder) {
    return QFileDialog::getOpenFileNames(owner, QString(), folder, ToQtFilter(filter));
}

QString TDialogs::GetSaveFileName(QWidget *owner, const QString &filter, const QString &folder) {
    // The caller asks about overwriting itself.
    return QFileDialog::getSaveFileName(owner, QString(), folder, ToQtFilter(filter), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void TDialogs::ShellOpen(QWidget *, const QString &target) {
    QUrl url = QFileInfo(target).isAbsolute() ? QUrl::fromLocalFile(target) : QUrl(target);
    QDesktopServices::openUrl(url);
}

QString ToQtFilter(const QString &filter) {
    // Qt filters by the patterns in the last parentheses at the end of an entry, separated by
    // blanks only, and shows the entry as it is. The language files' descriptions mostly end in
    // their own list already ("WAV files(*.wav)", "All supported files(*.wav,*.mp3,*.wma)"):
    // that list is the one shown, with the entry's patterns written the way Qt reads them.
    static const QRegularExpression separators(QStringLiteral("[;,\\s]+"));
    static const QRegularExpression trailingList(QStringLiteral("^(.*)\\(([^()]*)\\)$"));
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(separators, Qt::SkipEmptyParts);
        const QRegularExpressionMatch list = trailingList.match(description);
        const bool hasList =
            list.hasMatch() && (list.captured(2).contains('*') || list.captured(2).contains('?'));
        if (patterns.isEmpty() && hasList)
            patterns = list.captured(2).split(separators, Qt::SkipEmptyParts);
        if (patterns.isEmpty())
            patterns << QStringLiteral("*");
        // "*.*" means every file on Windows; here it would hide names without a dot.
        patterns.replaceInStrings(QRegularExpression(QStringLiteral("^\\*\\.\\*$")),
                                  QStringLiteral("*"));
        const QString qtList = QLatin1Char('(') + patterns.join(' ') + QLatin1Char(')');
        if (hasList)
            out << list.captured(1) + qtList;
        else if (description.isEmpty())
            out << patterns.join(' ');
        else
            out << description + QLatin1Char(' ') + qtList;
    }
    return out.join(QStringLiteral(";;"));
}

void ShowException(const QString &message) {
    Dialogs().MessageBox(QApplication::activeWindow(), QString::fromLatin1(tandrel::kAppTitle),
                         message, QMessageBox::Critical, QMessageBox::Ok);
}
