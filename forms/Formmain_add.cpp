// Adding files: the Add button and files dropped on the window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "forms/Dialogs.h"
#include "forms/Formmain.h"

void TMainForm::ButtonAddClick() {
    QStringList names = Dialogs().GetOpenFileNames(this, OpenDialog1.Filter);
    if (names.isEmpty())
        return;
    AddFiles(names);
    UpdateStatusBar();
}

void TMainForm::dragEnterEvent(QDragEnterEvent *e) {
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *e) {
    QStringList names;
    for (const QUrl &url : e->mimeData()->urls())
        if (url.isLocalFile())
            names << url.toLocalFile();
    if (names.isEmpty())
        return;
    e->acceptProposedAction();
    WMDropFiles(names);
}

void TMainForm::WMDropFiles(const QStringList &names) {
    // Bring the window to the front so that the drop's messages show above other windows;
    // changing its stay-on-top flag would re-create the window.
    raise();
    activateWindow();
    QStringList list = names;
    AddFiles(list);
    UpdateStatusBar();
}

void TMainForm::AddFiles(QStringList &) {}
