#pragma once

#include <QObject>
#include <QVariant>
#include <QWidget>

// An object of the banner's page, reached by late-bound property names ("body", "style",
// "border", ...): properties are the object's dynamic properties, objects are QObject*.
class TDispObject : public QObject {
    Q_OBJECT
public:
    explicit TDispObject(QObject *parent = nullptr) : QObject(parent) {}
    // Throws std::runtime_error with a description when the object has no such property.
    QVariant GetProperty(const char *name) const;
    void SetProperty(const char *name, const QVariant &value);
    TDispObject *GetObject(const char *name) const;
};

// The banner at the right end of the tool bar: its Visible property, its Document and a
// document-complete signal. It never loads anything from the network.
class TCppWebBrowser : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
public:
    explicit TCppWebBrowser(QWidget *parent = nullptr);

    bool Visible() const { return isVisibleTo(parentWidget()); }
    void SetVisible(bool visible) { setVisible(visible); }
    // The loaded page's document, or nullptr before a page is shown.
    TDispObject *Document() const { return document_; }
    // Shows an empty page (a document with a body and its style) and reports it complete.
    void LoadBlankPage();

signals:
    void DocumentComplete(QObject *Sender, QObject *pDisp, const QVariant &URL);

private:
    TDispObject *document_ = nullptr;
};
