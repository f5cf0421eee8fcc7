#include "forms/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "forms/AppPaths.h"
#include "lang/IniFile.h"
#include "lang/Language.h"

namespace {

constexpr const char *kSection = "Folders";

tandrel::IniFile Settings() {
    return tandrel::IniFile(QFile::encodeName(SettingsFileOf(ExecutableFolder())).toStdString());
}

// XDG_MUSIC_DIR from xdg-user-dirs' file: "$HOME/Music" or an absolute path, in quotes.
QString XdgMusicFolder() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    QFile file(config + QStringLiteral("/user-dirs.dirs"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString folder;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf('=');
        if (line.startsWith('#') || eq < 0 || line.left(eq).trimmed() != "XDG_MUSIC_DIR")
            continue;
        QString value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        if (value.startsWith(QStringLiteral("$HOME")))
            value.replace(0, 5, QDir::homePath());
        folder = value; // the last line that sets it counts
    }
    return QDir::isAbsolutePath(folder) ? folder : QString();
}

} // namespace

QString DefaultDialogFolder() {
    for (const QString &folder :
         {XdgMusicFolder(), QStandardPaths::writableLocation(QStandardPaths::MusicLocation)})
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return QDir::cleanPath(folder);
    return QDir::homePath();
}

QString RememberedFolder(const char *key) {
    const std::string stored = Settings().ReadString(kSection, key, "");
    const QString folder = QFile::decodeName(QByteArray::fromStdString(stored));
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : DefaultDialogFolder();
}

void RememberFolder(const char *key, const QString &file) {
    const std::string folder = QFile::encodeName(QFileInfo(file).absolutePath()).toStdString();
    // A line of the file cannot hold every name; such a folder is simply not remembered.
    if (folder.find_first_of("\r\n") != std::string::npos ||
        folder.size() + 2 > tandrel::IniFile::kMaxValue)
        return;
    try {
        // Quoted, so that blanks or quotes at either end are read back as they are.
        Settings().WriteString(kSection, key, '"' + folder + '"');
    } catch (const tandrel::IniWriteError &) {
        // An unwritable settings file is reported when the language is stored; the dialog
        // then opens where the toolkit chooses.
    }
}
