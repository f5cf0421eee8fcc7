// The file list's own operations and the status bar.
#include <QKeyEvent>
#include <QLabel>
#include <QTreeWidget>
#include <algorithm>

#include "audio/Probe.h"
#include "forms/AudioFileEntry.h"
#include "forms/Formmain.h"
#include "ui_Formmain.h"

void TMainForm::UpdateStatusBar() {
    QTreeWidget *list = ui->ListView1;
    statusPanels_[0]->setText(QString::number(list->topLevelItemCount()) + ' ' +
                              Text("StatusBar", "Files"));
    qint64 total = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        total += SubItem(list->topLevelItem(i), 9).toLongLong();
    statusPanels_[1]->setText(Text("StatusBar", "Time") + ' ' +
                              QString::fromStdString(tandrel::StatusTimeText(total)));
}

QString TMainForm::StatusPanelText(int panel) const {
    return statusPanels_[panel]->text();
}

void TMainForm::RefreshImageIndexes() {
    QTreeWidget *list = ui->ListView1;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        SetImageIndex(list->topLevelItem(i), i, i < ImageList1.size() ? ImageList1[i] : QIcon());
}

bool TMainForm::eventFilter(QObject *watched, QEvent *e) {
    if (watched != ui->ListView1 || e->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, e);
    auto *key = static_cast<QKeyEvent *>(e);
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && key->key() == Qt::Key_Delete) {
        ButtonRemoveClick();
        return true;
    }
    if (plain && key->key() == Qt::Key_Insert) {
        ButtonAddClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void TMainForm::ButtonRemoveClick() {
    QTreeWidget *list = ui->ListView1;
    int firstRemoved = -1;
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i) {
        if (list->topLevelItem(i)->isSelected()) {
            delete list->takeTopLevelItem(i);
            if (i < ImageList1.size())
                ImageList1.removeAt(i);
            firstRemoved = i;
        }
    }
    // The row that took the first removed one's place stays selected, so that Delete can go on.
    if (firstRemoved >= 0 && list->topLevelItemCount() > 0) {
        QTreeWidgetItem *next =
            list->topLevelItem(std::min(firstRemoved, list->topLevelItemCount() - 1));
        list->setCurrentItem(next, 0, QItemSelectionModel::ClearAndSelect);
    }
    RefreshImageIndexes();
    UpdateStatusBar();
}

void TMainForm::ButtonClearClick() {
    ui->ListView1->clear();
    ImageList1.clear();
    UpdateStatusBar();
}

namespace {
// The index of the only selected row, or -1.
int SingleSelection(QTreeWidget *list) {
    int found = -1;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->isSelected()) {
            if (found >= 0)
                return -1;
            found = i;
        }
    }
    return found;
}

void MoveRow(QTreeWidget *list, QList<QIcon> &icons, int from, int to) {
    QTreeWidgetItem *item = list->takeTopLevelItem(from);
    list->insertTopLevelItem(to, item);
    list->clearSelection();
    item->setSelected(true);
    list->setCurrentItem(item);
    if (from < icons.size() && to < icons.size())
        icons.move(from, to);
}
} // namespace

void TMainForm::ButtonUpClick() {
    QTreeWidget *list = ui->ListView1;
    int k = SingleSelection(list);
    if (k < 1)
        return;
    MoveRow(list, ImageList1, k, k - 1);
    RefreshImageIndexes();
}

void TMainForm::ButtonDownClick() {
    QTreeWidget *list = ui->ListView1;
    int k = SingleSelection(list);
    if (k < 0 || k >= list->topLevelItemCount() - 1)
        return;
    MoveRow(list, ImageList1, k, k + 1);
    RefreshImageIndexes();
}
