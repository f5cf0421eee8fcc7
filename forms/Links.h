#pragma once

#include <QWidget>

// Links underline while the mouse is over them; their other font styles stay.
inline void SetUnderline(QWidget *link, bool on) {
    QFont f = link->font();
    f.setUnderline(on);
    link->setFont(f);
}
