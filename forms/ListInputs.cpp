#include "forms/ListInputs.h"

#include <QFile>
#include <QTreeWidget>

#include "forms/AudioFileEntry.h"

std::vector<tandrel::JoinInput> ListInputs(const QTreeWidget *list, bool chapters) {
    std::vector<tandrel::JoinInput> inputs;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = list->topLevelItem(i);
        inputs.push_back(
            {QFile::encodeName(RowPath(row)).toStdString(),
             {SubItem(row, 6).toInt(), SubItem(row, 7).toInt(), SubItem(row, 8).toInt()},
             ExactBytes(row),
             Reader(row),
             chapters ? RowChapterTitle(row) : std::string()});
    }
    return inputs;
}
