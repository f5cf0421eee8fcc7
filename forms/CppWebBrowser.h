#pragma once

#include <QWidget>

// The banner at the right end of the tool bar. It never loads anything from the network.
class TCppWebBrowser : public QWidget {
    Q_OBJECT
public:
    explicit TCppWebBrowser(QWidget *parent = nullptr) : QWidget(parent) {}
};
