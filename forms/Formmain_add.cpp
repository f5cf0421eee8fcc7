// Adding files: the Add button and files dropped on the window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>

#include "audio/Probe.h"
#include "forms/AudioFileEntry.h"
#include "forms/Dialogs.h"
#include "forms/Folders.h"
#include "forms/Formmain.h"
#include "join/OutputMetadata.h"
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

// An icon for the kind of audio, from the desktop's theme when it has one.
QIcon IconForFamily(tandrel::FormatFamily family) {
    using tandrel::FormatFamily;
    static const QIcon fallback(QStringLiteral(":/icons/file.svg"));
    QStringList names;
    switch (family) {
    case FormatFamily::Wave:
        names = {"audio-x-wav"};
        break;
    case FormatFamily::Mp3:
        names = {"audio-mpeg", "audio-x-mpeg"};
        break;
    case FormatFamily::Wma:
        names = {"audio-x-ms-wma"};
        break;
    case FormatFamily::Lossless:
        names = {"audio-x-flac"};
        break;
    case FormatFamily::Lossy:
        break;
    }
    names << QStringLiteral("audio-x-generic");
    QIcon icon = fallback;
    for (auto name = names.crbegin(); name != names.crend(); ++name)
        icon = QIcon::fromTheme(*name, icon);
    return icon;
}

QString Decoded(const std::string &name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

} // namespace

void TMainForm::AddFiles(QStringList &Names) {
    std::vector<std::string> names;
    names.reserve(Names.size());
    for (const QString &name : Names)
        names.push_back(QFile::encodeName(name).toStdString());
    tandrel::SortNamesForAdding(names);
    Names.clear();
    for (const std::string &name : names)
        Names << Decoded(name);

    for (const std::string &name : names) {
        tandrel::Track file;
        const tandrel::Refusal refusal = tandrel::ProbeFile(name, file);
        if (refusal == tandrel::Refusal::None) {
            AddRow(name, file);
            continue;
        }
        // One box per refused file; the next file is probed after it closes.
        const std::string reason = tandrel::RefusalText(
            LanguageText("OpenDialog", tandrel::RefusalKey(refusal)), refusal, file);
        Dialogs().MessageBox(QApplication::activeWindow(), Text("Common", "Message"),
                             Decoded(name) + '\n' + QString::fromStdString(reason),
                             QMessageBox::Information, QMessageBox::Ok);
    }
}

void TMainForm::AddRow(const std::string &path, const tandrel::Track &file) {
    const tandrel::RowTexts texts =
        tandrel::BuildRow(path, file, LanguageText("ListView", "Bits"),
                          LanguageText("ListView", "Mono"), LanguageText("ListView", "Stereo"));
    ImageList1.append(IconForFamily(file.family));
    auto *row = new QTreeWidgetItem(ui->ListView1);
    SetImageIndex(row, ImageList1.size() - 1, ImageList1.back());
    SetExactBytes(row, file.exactBytes);
    SetReader(row, file.reader);
    SetTrackData(row, file, tandrel::ChapterTitle(file));
    row->setText(0, Decoded(texts.caption));
    QStringList format; // "FLAC, flac"
    for (const std::string *part : {&file.container, &file.codec})
        if (!part->empty())
            format << QString::fromStdString(*part);
    row->setToolTip(0, format.join(QStringLiteral(", ")));
    for (int k = 0; k < kSubItemCount; ++k) {
        const std::string &text = texts.subItems[k];
        SetSubItem(row, k, k == 5 ? Decoded(text) : QString::fromStdString(text));
    }
}
