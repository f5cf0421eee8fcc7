#include "forms/AppPaths.h"

#include <QFile>

#include "encoders/EncoderLibrary.h"

namespace {
QString g_override;
}

QString ExecutableFolder() {
    if (!g_override.isEmpty())
        return g_override.endsWith('/') ? g_override : g_override + '/';
    return QFile::decodeName(QByteArray::fromStdString(tandrel::ExecutableFolder()));
}

void SetExecutableFolderForTesting(const QString &folder) {
    g_override = folder;
}
