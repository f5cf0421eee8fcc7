#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include "TestUtil.h"

// The seven language files as the program ships them, copied into a test's program folder.
inline QStringList ShippedLanguageFiles() {
    return {"English.ini", "German.ini",    "French.ini",     "Polish.ini",
            "Russian.ini", "ChineseGB.ini", "ChineseBig5.ini"};
}

// Copies every shipped file into dir/TDLanguage; false when one cannot be copied.
inline bool CopyShippedLanguages(const testutil::TempDir &dir, const QString &shippedFolder) {
    const QString target = QString::fromStdString(dir.File("TDLanguage/"));
    for (const QString &f : ShippedLanguageFiles()) {
        QFile::remove(target + f);
        if (!QFile::copy(shippedFolder + '/' + f, target + f))
            return false;
    }
    return true;
}

// Stores the language choice in the folder's settings file.
inline void StoreLanguageChoice(const testutil::TempDir &dir, const QString &file) {
    testutil::WriteFile(dir.File("Tandrel.ini"),
                        "[General]\nLanguage=" + file.toStdString() + "\n");
}
