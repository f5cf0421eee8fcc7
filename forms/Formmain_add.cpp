// Adding files: the Add button and files dropped on the window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QTreeWidget>

#include "audio/Probe.h"
#include "forms/AudioFileEntry.h"
#include "forms/Dialogs.h"
#include "forms/Folders.h"
#include "forms/Formmain.h"
#include "ui_Formmain.h"

void TMainForm::ButtonAddClick() {
    QStringList names =
        Dialogs().GetOpenFileNames(this, OpenDialog1.Filter, RememberedFolder(kAddFilesFolderKey));
    if (names.isEmpty())
        return;
    RememberFolder(kAddFilesFolderKey, names.first());
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

void TMainForm::AddCommandLineFiles(const QStringList &arguments) {
    QStringList names;
    for (const QString &arg : arguments)
        names << QFileInfo(arg).absoluteFilePath();
    if (!names.isEmpty())
        WMDropFiles(names);
}

namespace {

// An icon for the file's type, from its extension alone: the file itself is not opened.
QIcon IconForExtension(const QString &name) {
    static const QIcon fallback(QStringLiteral(":/icons/file.svg"));
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
}

} // namespace

void TMainForm::AddFiles(QStringList &Names) {
    const std::string bits = LanguageText("ListView", "Bits");
    const std::string mono = LanguageText("ListView", "Mono");
    const std::string stereo = LanguageText("ListView", "Stereo");

    std::vector<std::string> names;
    names.reserve(Names.size());
    for (const QString &name : Names)
        names.push_back(QFile::encodeName(name).toStdString());
    tandrel::SortNamesForAdding(names);
    Names.clear();
    for (const std::string &name : names)
        Names << QFile::decodeName(QByteArray::fromStdString(name));

    for (const std::string &name : names) {
        tandrel::Track file;
        const tandrel::Refusal refusal = tandrel::ProbeFile(name, file);
        const QString qname = QFile::decodeName(QByteArray::fromStdString(name));
        if (refusal != tandrel::Refusal::None) {
            // One box per refused file; the next file is probed after it closes.
            const QString reason = QString::fromStdString(tandrel::RefusalText(
                Text("OpenDialog", tandrel::RefusalKey(refusal)).toStdString(), refusal, file));
            Dialogs().MessageBox(QApplication::activeWindow(), Text("Common", "Message"),
                                 qname + '\n' + reason, QMessageBox::Information, QMessageBox::Ok);
            continue;
        }
        ImageList1.append(IconForExtension(qname));
        const tandrel::RowTexts texts = tandrel::BuildRow(name, file, bits, mono, stereo);
        auto *row = new QTreeWidgetItem(ui->ListView1);
        SetImageIndex(row, ImageList1.size() - 1, ImageList1.back());
        SetExactBytes(row, file.exactBytes);
        row->setText(0, QFile::decodeName(QByteArray::fromStdString(texts.caption)));
        for (int k = 0; k < kSubItemCount; ++k) {
            const std::string &text = texts.subItems[k];
            SetSubItem(row, k,
                       k == 5 ? QFile::decodeName(QByteArray::fromStdString(text))
                              : QString::fromStdString(text));
        }
    }
}
