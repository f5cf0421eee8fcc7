#pragma once

#include <QString>

// Status bar time: hours always, at least two figures; then minutes and seconds.
inline QString StatusTimeText(qint64 total) {
    const qint64 h = total / 3600, m = total % 3600 / 60, s = total % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QChar('0'))
        .arg(m, 2, 10, QChar('0'))
        .arg(s, 2, 10, QChar('0'));
}
