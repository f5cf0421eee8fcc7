#include <QApplication>
#include <QIcon>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <cstdio>
#include <exception>

#include "forms/Dialogs.h"
#include "forms/Formmain.h"
#include "forms/Forms.h"

namespace {

// Shows an exception that escapes an event handler in the standard error dialog; the
// program goes on.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *e) override {
        try {
            return QApplication::notify(receiver, e);
        } catch (const std::exception &ex) {
            ShowException(QString::fromUtf8(ex.what()));
        } catch (...) {
            ShowException(QString());
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[]) {
    // A FIFO output whose reader goes away is a failed write with its message, not the end.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        TApplication app(argc, argv);
        TApplication::setApplicationName(QStringLiteral("Borvik Tandrel"));
        TApplication::setDesktopFileName(QStringLiteral("tandrel"));
        TApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tandrel.svg")));
        CreateForms();
        MainForm->show();
        // Once the window shows, so that the messages for refused files stand above it.
        const QStringList files = TApplication::arguments().mid(1);
        QTimer::singleShot(0, MainForm, [files] { MainForm->AddCommandLineFiles(files); });
        // For packagers' checks: the program starts, shows its window in its language and ends.
        if (qEnvironmentVariableIsSet("TANDREL_SMOKE_TEST"))
            QTimer::singleShot(0, MainForm, [] {
                const auto *join = MainForm->findChild<QToolButton *>("ButtonJoin");
                // The caption as shown: a mnemonic's "&" goes, a doubled one stays single.
                QString caption = join ? join->text() : QString();
                caption.remove(QRegularExpression(QStringLiteral("&(?!&)")));
                std::printf("%s\n%s\n", qPrintable(MainForm->windowTitle()), qPrintable(caption));
                TApplication::quit();
            });
        TApplication::exec();
        DestroyForms();
    } catch (const std::exception &ex) {
        ShowException(QString::fromUtf8(ex.what()));
    } catch (...) {
        ShowException(QString());
    }
    return 0; // whatever happened
}
