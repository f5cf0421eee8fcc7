#include "forms/ApplicationEvents.h"

#include <QCoreApplication>
#include <QMouseEvent>

TApplicationEvents::TApplicationEvents(QObject *parent) : QObject(parent) {
    QCoreApplication::instance()->installEventFilter(this);
}

TApplicationEvents::~TApplicationEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool TApplicationEvents::eventFilter(QObject *watched, QEvent *event) {
    // Only presses reach the handler as messages; everything else passes unseen.
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            TMsg msg{WM_RBUTTONDOWN, mouse->globalPosition().toPoint()};
            bool handled = false;
            emit OnMessage(msg, handled);
            return handled;
        }
    }
    return QObject::eventFilter(watched, event);
}
