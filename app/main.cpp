#include <QApplication>
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
