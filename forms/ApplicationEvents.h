#pragma once

#include <QObject>
#include <QPoint>

// A window message as the application's hook sees it: its kind and the screen point.
struct TMsg {
    unsigned message = 0;
    QPoint pt;
};
inline constexpr unsigned WM_RBUTTONDOWN = 0x0204;

// Sees every mouse press of the application before it is delivered; a handler that sets
// Handled drops it.
class TApplicationEvents : public QObject {
    Q_OBJECT
public:
    explicit TApplicationEvents(QObject *parent = nullptr);
    ~TApplicationEvents() override;

signals:
    void OnMessage(const TMsg &Msg, bool &Handled);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
