#pragma once

#include <QDir>
#include <QString>

#include "RecordingDialogs.h"
#include "TestUtil.h"
#include "audio/Decoding.h"
#include "forms/AppPaths.h"
#include "forms/Formmain.h"
#include "forms/Forms.h"

// Writes a program folder for window tests: TDLanguage/<language> and Tandrel.ini naming it.
inline void MakeProgramFolder(const testutil::TempDir &dir, const std::string &language,
                              const std::string &languageText) {
    QDir().mkpath(QString::fromStdString(dir.File("TDLanguage")));
    testutil::WriteFile(dir.File("TDLanguage/" + language), languageText);
    testutil::WriteFile(dir.File("Tandrel.ini"), "[General]\nLanguage=" + language + "\n");
}

// The program's five windows on a folder of the test's own, with the dialog seam recording;
// the first activation's texts are applied. Everything is undone at the end.
class ProgramWindows {
public:
    explicit ProgramWindows(const std::string &folder) {
        SetExecutableFolderForTesting(QString::fromStdString(folder));
        Start();
    }
    ~ProgramWindows() {
        DestroyForms();
        SetExecutableFolderForTesting(QString());
        tandrel::SetDecodingInitFailureForTesting(false);
    }
    // Closes the windows and starts them again, as a new run of the program would.
    void Restart() {
        DestroyForms();
        Start();
    }

    RecordingDialogs dialogs;

private:
    void Start() {
        CreateForms();
        MainForm->ApplyLanguage();
    }
};
