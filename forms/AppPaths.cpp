#include "forms/AppPaths.h"

#include <QCoreApplication>

namespace {
QString g_override;
}

QString ExecutableFolder() {
    if (!g_override.isEmpty())
        return g_override.endsWith('/') ? g_override : g_override + '/';
    return QCoreApplication::applicationDirPath() + '/';
}

void SetExecutableFolderForTesting(const QString &folder) {
    g_override = folder;
}
