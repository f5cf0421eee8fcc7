#include "forms/QtLanguage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace {

std::unique_ptr<QTranslator> g_translator;
QString g_locale;

bool NeedsNoTranslation(const QString &localeName) {
    return localeName.isEmpty() || localeName == QLatin1String("C") ||
           QLocale(localeName).language() == QLocale::English;
}

void RemoveTranslation() {
    if (g_translator)
        QCoreApplication::removeTranslator(g_translator.get());
    g_translator.reset();
    g_locale.clear();
}

} // namespace

QString QtTranslationFile(const QString &localeName) {
    if (NeedsNoTranslation(localeName))
        return QString();
    QTranslator probe;
    if (!probe.load(QLocale(localeName), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return QString();
    return probe.filePath();
}

bool InstallQtTranslation(const QString &localeName) {
    if (NeedsNoTranslation(localeName)) {
        RemoveTranslation();
        return false;
    }
    if (g_translator && g_locale == localeName)
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(localeName), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        RemoveTranslation(); // no stale texts of the language before
        return false;
    }
    RemoveTranslation();
    if (!QCoreApplication::installTranslator(translator.get()))
        return false;
    g_translator = std::move(translator);
    g_locale = localeName;
    return true;
}

QString InstalledQtTranslation() {
    return g_locale;
}

void InstallFontSubstitutions() {
    static bool done = false;
    if (done)
        return;
    done = true;

    // Generic names are no families to Qt's font database: the face the system uses for them.
    auto generic = [](const char *alias, QFont::StyleHint hint) {
        QFont f(QString::fromLatin1(alias));
        f.setStyleHint(hint);
        return QFontInfo(f).family();
    };
    const QString sans = generic("Sans Serif", QFont::SansSerif);
    const QString serif = generic("Serif", QFont::Serif);
    const QString mono = generic("Monospace", QFont::Monospace);

    const QStringList latinSans = {"DejaVu Sans", "Liberation Sans", "Noto Sans", "FreeSans", sans};
    const QStringList arial = QStringList{"Liberation Sans", "Arimo"} + latinSans;
    const QStringList latinSerif = {"Liberation Serif", "DejaVu Serif", "Noto Serif", serif};
    const QStringList latinMono = {"Liberation Mono", "DejaVu Sans Mono", "Noto Mono", mono};
    const QStringList cjkTail = {"WenQuanYi Micro Hei", "WenQuanYi Zen Hei", "Droid Sans Fallback",
                                 sans};
    const QStringList simplified =
        QStringList{"Noto Sans CJK SC", "Source Han Sans SC", "Source Han Sans CN"} + cjkTail;
    const QStringList traditional =
        QStringList{"Noto Sans CJK TC", "Source Han Sans TC", "Source Han Sans TW"} + cjkTail;
    const QStringList japanese = QStringList{"Noto Sans CJK JP", "Source Han Sans JP", "IPAGothic",
                                             "IPAPGothic", "TakaoPGothic"} +
                                 cjkTail;
    const QStringList korean =
        QStringList{"Noto Sans CJK KR", "Source Han Sans KR", "NanumGothic", "UnDotum"} + cjkTail;

    const struct {
        QStringList names;
        QStringList faces;
    } table[] = {
        {{"SimSun", "NSimSun", "SimHei", "Microsoft YaHei", "KaiTi", "FangSong",
          QString::fromUtf8("宋体"), QString::fromUtf8("新宋体"), QString::fromUtf8("黑体")},
         simplified},
        {{"PMingLiU", "MingLiU", "Microsoft JhengHei", "DFKai-SB", QString::fromUtf8("新細明體"),
          QString::fromUtf8("細明體")},
         traditional},
        {{"MS Gothic", "MS PGothic", "MS UI Gothic", "MS Mincho", "Meiryo"}, japanese},
        {{"Gulim", "Dotum", "Batang", "Malgun Gothic"}, korean},
        {{"Tahoma", "MS Sans Serif", "Microsoft Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2",
          "Verdana", "Segoe UI"},
         latinSans},
        {{"Arial", "Helvetica"}, arial},
        {{"Times New Roman", "MS Serif"}, latinSerif},
        {{"Courier New", "Courier", "Lucida Console"}, latinMono},
    };
    for (const auto &entry : table)
        for (const QString &name : entry.names)
            QFont::insertSubstitutions(name, entry.faces);
}
