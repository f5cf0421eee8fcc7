// The language files' file filters as the open and save dialogs get them.
#include <QtTest>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>

#include "forms/Dialogs.h"
#include "lang/Language.h"

namespace {

const QString kShipped = QStringLiteral(TANDREL_LANG_DIR);
const char *const kFiles[] = {"English.ini", "German.ini",    "French.ini",     "Polish.ini",
                              "Russian.ini", "ChineseGB.ini", "ChineseBig5.ini"};
const std::pair<const char *, const char *> kFilters[] = {{"OpenDialog", "Filter"},
                                                          {"SaveDialog", "WAVFilter"},
                                                          {"SaveDialog", "MP3Filter"},
                                                          {"SaveDialog", "WMAFilter"}};

QString Read(const char *file, const char *section, const char *key) {
    tandrel::LanguageFile lang((kShipped + '/' + file).toStdString());
    return QString::fromStdString(lang.ReadString(section, key, ""));
}

} // namespace

class FilterTest : public QObject {
    Q_OBJECT

private slots:
    void englishAndChineseFiltersExactly() {
        QCOMPARE(ToQtFilter(Read("English.ini", "OpenDialog", "Filter")),
                 QString("All supported files(*.wav *.mp3 *.wma);;WAV files(*.wav);;"
                         "MP3 files(*.mp3);;WMA files(*.wma);;All Files(*)"));
        QCOMPARE(ToQtFilter(Read("ChineseBig5.ini", "OpenDialog", "Filter")).section(";;", 0, 0),
                 QString("所有支援的檔案(*.wav *.mp3 *.wma)"));
    }

    // Every filter of the seven files: English's patterns, each description once, no second
    // pattern list, and a Qt file dialog shows the entry as given and filters by its patterns.
    void everyShippedFilterShowsItsDescriptionOnceAndFilters() {
        for (const char *file : kFiles) {
            for (auto [section, key] : kFilters) {
                const QString text = Read(file, section, key);
                const QString where = QStringLiteral("%1 %2").arg(file, key);
                QVERIFY2(text.count('|') % 2 == 1, qPrintable(where));
                const QStringList parts = text.split('|');
                const QStringList english = Read("English.ini", section, key).split('|');
                QCOMPARE(parts.size(), english.size());
                const QStringList entries = ToQtFilter(text).split(QStringLiteral(";;"));
                QCOMPARE(entries.size(), parts.size() / 2);

                QFileDialog dialog;
                dialog.setOption(QFileDialog::DontUseNativeDialog);
                dialog.setNameFilter(ToQtFilter(text));
                auto *model = dialog.findChild<QFileSystemModel *>();
                auto *combo = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                QVERIFY(model && combo);
                QCOMPARE(combo->count(), entries.size());
                for (int i = 0; i < entries.size(); ++i) {
                    const QString description = parts[2 * i];
                    const QString entry = entries[i];
                    const QString name = description.left(description.lastIndexOf('('));
                    QVERIFY2(!name.isEmpty(), qPrintable(where));
                    QVERIFY2(entry.startsWith(name), qPrintable(where + ": " + entry));
                    QCOMPARE(entry.count('('), 1); // the description's own list, no second
                    QCOMPARE(entry.count(')'), 1);
                    QVERIFY2(entry.endsWith(')'), qPrintable(where + ": " + entry));
                    QCOMPARE(combo->itemText(i), entry);
                    dialog.selectNameFilter(entry);
                    QCOMPARE(parts[2 * i + 1], english[2 * i + 1]);
                    QStringList patterns = parts[2 * i + 1].split(';', Qt::SkipEmptyParts);
                    patterns.replaceInStrings(QStringLiteral("*.*"), QStringLiteral("*"));
                    QCOMPARE(model->nameFilters(), patterns);
                }
            }
        }
    }

    void descriptionsWithoutTheirOwnListGetOne() {
        QCOMPARE(ToQtFilter("Audio|*.wav;*.mp3"), QString("Audio (*.wav *.mp3)"));
        QCOMPARE(ToQtFilter("Audio (recommended)|*.wav"), QString("Audio (recommended) (*.wav)"));
        QCOMPARE(ToQtFilter("Audio files (*.wav) |*.wav"), QString("Audio files (*.wav)"));
        QCOMPARE(ToQtFilter("Sound(*.wav)|*.wav, *.wave|Any|*"),
                 QString("Sound(*.wav *.wave);;Any (*)"));
        QCOMPARE(ToQtFilter("|*.wav"), QString("*.wav"));
        // Every file, also one without a dot in its name.
        QCOMPARE(ToQtFilter("Everything|*.*"), QString("Everything (*)"));
        QCOMPARE(ToQtFilter(""), QString());
    }
};

QTEST_MAIN(FilterTest)
#include "FilterTest.moc"
