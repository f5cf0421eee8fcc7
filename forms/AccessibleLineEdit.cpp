#include "forms/AccessibleLineEdit.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>

namespace {

class ReadOnlyLineEditAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadOnlyLineEditAccessible(QLineEdit *edit)
        : QAccessibleWidget(edit, QAccessible::EditableText) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = Edit()->isReadOnly();
        s.editable = !s.readOnly;
        return s;
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? Edit()->text() : QAccessibleWidget::text(t);
    }
    void *interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    void selection(int index, int *start, int *end) const override {
        *start = *end = 0;
        if (index == 0 && Edit()->hasSelectedText()) {
            *start = Edit()->selectionStart();
            *end = Edit()->selectionEnd();
        }
    }
    int selectionCount() const override { return Edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index == 0)
            Edit()->deselect();
    }
    void setSelection(int index, int start, int end) override {
        if (index == 0)
            Edit()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return Edit()->cursorPosition(); }
    void setCursorPosition(int position) override { Edit()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        const QString all = Edit()->text();
        return end < 0 ? all.mid(start) : all.mid(start, end - start);
    }
    int characterCount() const override { return int(Edit()->text().size()); }
    QRect characterRect(int offset) const override {
        // Measured from the text's start; a scrolled field is not accounted for.
        const QString all = Edit()->text();
        if (offset < 0 || offset >= all.size())
            return QRect();
        const QFontMetrics fm(Edit()->font());
        const QRect inner = Edit()->contentsRect().marginsRemoved(Edit()->textMargins());
        const int x = inner.x() + fm.horizontalAdvance(all.left(offset));
        const QRect local(x, inner.y(), fm.horizontalAdvance(all.at(offset)), inner.height());
        return local.translated(Edit()->mapToGlobal(QPoint(0, 0)));
    }
    int offsetAtPoint(const QPoint &point) const override {
        return Edit()->cursorPositionAt(Edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *start, int *end) const override {
        *start = 0;
        *end = characterCount();
        return QString();
    }

private:
    QLineEdit *Edit() const { return static_cast<QLineEdit *>(widget()); }
};

QAccessibleInterface *ReadOnlyLineEditFactory(const QString &className, QObject *object) {
    auto *edit = qobject_cast<QLineEdit *>(object);
    if (className == QLatin1String("QLineEdit") && edit && edit->isReadOnly())
        return new ReadOnlyLineEditAccessible(edit);
    return nullptr;
}

} // namespace

void InstallReadOnlyLineEditAccessible() {
    QAccessible::installFactory(ReadOnlyLineEditFactory);
}
