#include "forms/Folders.h"

#include <QFile>
#include <QFileInfo>

#include "forms/AppPaths.h"
#include "lang/IniFile.h"
#include "lang/Language.h"

namespace {

constexpr const char *kSection = "Folders";

tandrel::IniFile Settings() {
    return tandrel::IniFile(QFile::encodeName(SettingsFileOf(ExecutableFolder())).toStdString());
}

} // namespace

QString RememberedFolder(const char *key) {
    const std::string stored = Settings().ReadString(kSection, key, "");
    const QString folder = QFile::decodeName(QByteArray::fromStdString(stored));
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
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
