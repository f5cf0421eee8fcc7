#include <QApplication>
#include <csignal>
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
        CreateForms();
        MainForm->show();
        TApplication::exec();
        DestroyForms();
    } catch (const std::exception &ex) {
        ShowException(QString::fromUtf8(ex.what()));
    } catch (...) {
        ShowException(QString());
    }
    return 0; // whatever happened
}
