#pragma once

#include <QByteArray>
#include <QFile>
#include <QIcon>
#include <QString>
#include <QTreeWidgetItem>

#include "audio/Track.h"

#include <string>

// A row of the file list: the caption in column 0 and sub-items 0 to 5 in columns 1 to 6.
// Sub-items 6 to 9 (rate, channels, bits, whole seconds) have no column: they are data of the
// row, so that neither the view nor a screen reader offers them.
inline constexpr int kSubItemCount = 10;
inline constexpr int kShownSubItems = 6;
inline constexpr int kImageIndexRole = Qt::UserRole + 1;
// The exact PCM length in bytes found when the row was added (-1: only an estimate).
inline constexpr int kExactBytesRole = Qt::UserRole + 2;
// Which reader adding the row found for the file (tandrel::InputReader).
inline constexpr int kReaderRole = Qt::UserRole + 3;
inline constexpr int kRawSubItemRole = Qt::UserRole + 4; // + (k - kShownSubItems)
// The container and codec adding the row found ("FLAC", "flac"), so that the file's tags can be
// read again at the join, and the title of its chapter (its title tag, else its file name) as
// the bytes of the engine's string.
inline constexpr int kContainerRole = kRawSubItemRole + kSubItemCount - kShownSubItems;
inline constexpr int kCodecRole = kContainerRole + 1;
inline constexpr int kChapterTitleRole = kContainerRole + 2;

inline QString SubItem(const QTreeWidgetItem *row, int k) {
    if (k < kShownSubItems)
        return row->text(k + 1);
    return row->data(0, kRawSubItemRole + k - kShownSubItems).toString();
}
inline void SetSubItem(QTreeWidgetItem *row, int k, const QString &text) {
    if (k < kShownSubItems)
        row->setText(k + 1, text);
    else
        row->setData(0, kRawSubItemRole + k - kShownSubItems, text);
}
inline int ImageIndex(const QTreeWidgetItem *row) {
    return row->data(0, kImageIndexRole).toInt();
}
inline void SetImageIndex(QTreeWidgetItem *row, int index, const QIcon &icon) {
    row->setData(0, kImageIndexRole, index);
    row->setIcon(0, icon);
}
inline qint64 ExactBytes(const QTreeWidgetItem *row) {
    const QVariant v = row->data(0, kExactBytesRole);
    return v.isValid() ? v.toLongLong() : -1;
}
inline void SetExactBytes(QTreeWidgetItem *row, qint64 bytes) {
    row->setData(0, kExactBytesRole, bytes);
}
inline tandrel::InputReader Reader(const QTreeWidgetItem *row) {
    const QVariant v = row->data(0, kReaderRole);
    return v.isValid() ? static_cast<tandrel::InputReader>(v.toInt()) : tandrel::InputReader::None;
}
inline void SetReader(QTreeWidgetItem *row, tandrel::InputReader reader) {
    row->setData(0, kReaderRole, static_cast<int>(reader));
}
inline void SetTrackData(QTreeWidgetItem *row, const tandrel::Track &file,
                         const std::string &chapterTitle) {
    row->setData(0, kContainerRole, QString::fromStdString(file.container));
    row->setData(0, kCodecRole, QString::fromStdString(file.codec));
    row->setData(0, kChapterTitleRole, QByteArray::fromStdString(chapterTitle));
}
inline std::string RowChapterTitle(const QTreeWidgetItem *row) {
    return row->data(0, kChapterTitleRole).toByteArray().toStdString();
}
// Full path of the row's file: the folder (sub-item 5) followed by the caption.
inline QString RowPath(const QTreeWidgetItem *row) {
    return SubItem(row, 5) + row->text(0);
}
// What reading the row's tags again needs: its path, container and codec.
inline tandrel::Track TrackOf(const QTreeWidgetItem *row) {
    tandrel::Track track;
    track.path = QFile::encodeName(RowPath(row)).toStdString();
    track.container = row->data(0, kContainerRole).toString().toStdString();
    track.codec = row->data(0, kCodecRole).toString().toStdString();
    return track;
}
