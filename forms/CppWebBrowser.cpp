#include "forms/CppWebBrowser.h"

#include <stdexcept>

QVariant TDispObject::GetProperty(const char *name) const {
    QVariant v = property(name);
    if (!v.isValid())
        throw std::runtime_error(std::string("Unknown name: ") + name);
    return v;
}

void TDispObject::SetProperty(const char *name, const QVariant &value) {
    if (!property(name).isValid())
        throw std::runtime_error(std::string("Unknown name: ") + name);
    setProperty(name, value);
}

TDispObject *TDispObject::GetObject(const char *name) const {
    auto *object = qobject_cast<TDispObject *>(GetProperty(name).value<QObject *>());
    if (!object)
        throw std::runtime_error(std::string("Not an object: ") + name);
    return object;
}

TCppWebBrowser::TCppWebBrowser(QWidget *parent) : QWidget(parent) {}

void TCppWebBrowser::LoadBlankPage() {
    delete document_;
    document_ = new TDispObject(this);
    auto *body = new TDispObject(document_);
    auto *style = new TDispObject(body);
    style->setProperty("border", QStringLiteral("2px inset"));
    body->setProperty("style", QVariant::fromValue<QObject *>(style));
    document_->setProperty("body", QVariant::fromValue<QObject *>(body));
    emit DocumentComplete(this, document_, QStringLiteral("about:blank"));
}
