#include "forms/AppPaths.h"

#include <QFile>

#include "common/AppFolders.h"

namespace {
QString g_override;
}

QString ExecutableFolder() {
    if (!g_override.isEmpty())
        return g_override.endsWith('/') ? g_override : g_override + '/';
    return QFile::decodeName(QByteArray::fromStdString(tandrel::ExecutableFolder()));
}

namespace {
tandrel::AppFolders FoldersOf(const QString &exeFolder) {
    return tandrel::FindAppFolders(QFile::encodeName(exeFolder).toStdString());
}
QString Decode(const std::string &path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
} // namespace

QString LanguageFolderOf(const QString &exeFolder) {
    return Decode(FoldersOf(exeFolder).languages);
}

QString SettingsFileOf(const QString &exeFolder) {
    return Decode(FoldersOf(exeFolder).settingsFile);
}

void SetExecutableFolderForTesting(const QString &folder) {
    g_override = folder;
}
