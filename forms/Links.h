#pragma once

#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QWidget>
#include <functional>

// Links underline while the mouse is over them; their other font styles stay.
inline void SetUnderline(QWidget *link, bool on) {
    QFont f = link->font();
    f.setUnderline(on);
    link->setFont(f);
}

// Hands a label's mouse entering, leaving and left clicks to its window's handlers. Its window
// hiding counts as leaving, and its showing as entering when the pointer is over it then.
class TLinkEvents : public QObject {
public:
    TLinkEvents(QWidget *link, std::function<void()> enter, std::function<void()> leave,
                std::function<void()> click)
        : QObject(link), enter_(std::move(enter)), leave_(std::move(leave)),
          click_(std::move(click)) {
        link->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *e) override {
        // An entering queued before the window hid comes too late to count.
        if (e->type() == QEvent::Enter && static_cast<QWidget *>(watched)->isVisible())
            enter_();
        else if (e->type() == QEvent::Leave || e->type() == QEvent::Hide)
            leave_();
        else if (e->type() == QEvent::Show)
            PointerOver(static_cast<QWidget *>(watched)) ? enter_() : leave_();
        else if (e->type() == QEvent::MouseButtonRelease &&
                 static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton)
            click_();
        return QObject::eventFilter(watched, e);
    }

private:
    static bool PointerOver(QWidget *link) {
        return link->rect().contains(link->mapFromGlobal(QCursor::pos()));
    }

    std::function<void()> enter_, leave_, click_;
};
