#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include "TestUtil.h"

// HOME and XDG_CONFIG_HOME inside a folder of the test's own while it exists; both are put
// back afterwards. The home folder and the configuration folder are made, nothing in them.
class TestHome {
public:
    explicit TestHome(const std::string &root)
        : home(QString::fromStdString(root) + "/home"), config(home + "/.config"),
          oldHome_(qgetenv("HOME")), oldConfig_(qgetenv("XDG_CONFIG_HOME")),
          hadConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
        QDir().mkpath(config);
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_CONFIG_HOME", config.toUtf8());
    }
    ~TestHome() {
        qputenv("HOME", oldHome_);
        if (hadConfig_)
            qputenv("XDG_CONFIG_HOME", oldConfig_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    // Writes xdg-user-dirs' file with the one line given, e.g. XDG_MUSIC_DIR="$HOME/Sounds".
    void WriteUserDirs(const std::string &line) const {
        testutil::WriteFile(config.toStdString() + "/user-dirs.dirs",
                            "# written by the test\n" + line + "\n");
    }

    const QString home;
    const QString config;

private:
    QByteArray oldHome_, oldConfig_;
    bool hadConfig_;
};
