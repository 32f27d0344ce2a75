#include "sc-recording-name.h"
#include "sc-settings.h"
#include "sc-types.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The stored settings, and the names recordings are saved under.
class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultsFillAnEmptyStoreNeverOverwrite();
    void formatTablesRoundTrip();
    void everyKeySurvivesARestartDeletedOnesComeBack();
    void generatedNameCarriesDateAndTime();
    void typedNameIsANameNotAPath_data();
    void typedNameIsANameNotAPath();
    void longNamesFitAFileSystem();
    void existingFilesAreNeverReplaced();

private:
    QTemporaryDir m_dir;
};

void TestSettings::defaultsFillAnEmptyStoreNeverOverwrite()
{
    QSettings settings(m_dir.filePath("empty.ini"), QSettings::IniFormat);
    const QStringList written = SCSettings::applyDefaults(settings);
    QCOMPARE(written.size(), int(SCSettings::defaults().size()));
    QCOMPARE(settings.value(SCSettings::GENERAL_LANGUAGE).toString(), QString("en_US"));
    QCOMPARE(settings.value(SCSettings::HOTKEYS_RECORDING).toString(), QString("F9"));
    QCOMPARE(settings.value(SCSettings::HOTKEYS_SCREENSHOT).toString(), QString("F10"));
    QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QString("MP4"));
    QCOMPARE(settings.value(SCSettings::SCREENSHOT_FORMAT).toString(), QString("PNG"));
    QCOMPARE(settings.value(SCSettings::RECORDING_MIC_SWITCH).toBool(), false);
    QCOMPARE(settings.value(SCSettings::RECORDING_SPEAKER_SWITCH).toBool(), true);
    QCOMPARE(settings.value(SCSettings::GENERAL_FIRST_RUN).toBool(), true);
    QCOMPARE(settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString(),
             QStandardPaths::writableLocation(QStandardPaths::MoviesLocation) + "/Vistrel");
    QCOMPARE(settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString(),
             QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + "/Vistrel");

    // The defaults never overwrite a stored value.
    QSettings stored(m_dir.filePath("stored.ini"), QSettings::IniFormat);
    stored.setValue(SCSettings::RECORDING_FORMAT, "GIF");
    stored.setValue(SCSettings::RECORDING_MIC_SWITCH, true);
    stored.setValue(SCSettings::HOTKEYS_RECORDING, "None");
    // Even values the program would reject stay as the user (or a damaged store) left them.
    stored.setValue(SCSettings::SCREENSHOT_FORMAT, "XYZ");
    stored.setValue(SCSettings::GENERAL_FIRST_RUN, false);

    const QStringList filled = SCSettings::applyDefaults(stored);
    QCOMPARE(filled.size(), int(SCSettings::defaults().size()) - 5);
    QVERIFY(!filled.contains(SCSettings::RECORDING_FORMAT));
    QCOMPARE(stored.value(SCSettings::RECORDING_FORMAT).toString(), QString("GIF"));
    QCOMPARE(stored.value(SCSettings::RECORDING_MIC_SWITCH).toBool(), true);
    QCOMPARE(stored.value(SCSettings::HOTKEYS_RECORDING).toString(), QString("None"));
    QCOMPARE(stored.value(SCSettings::SCREENSHOT_FORMAT).toString(), QString("XYZ"));
    QCOMPARE(stored.value(SCSettings::GENERAL_FIRST_RUN).toBool(), false);

    // A second application writes nothing at all.
    QVERIFY(SCSettings::applyDefaults(stored).isEmpty());
}

void TestSettings::formatTablesRoundTrip()
{
    for (const auto &[format, name] : OUTPUT_FORMAT_STRINGS)
        QCOMPARE(OUTPUT_FORMAT_MAP.at(name), format);
    for (const auto &[code, language] : LANGUAGE_MAP) {
        QCOMPARE(LANGUAGE_STRINGS.at(language), code);
        QCOMPARE(LANGUAGE_NAME_MAP.at(LANGUAGE_NAME_STRINGS.at(language)), language);
    }
    QCOMPARE(SCREENSHOT_FORMAT_MAP.at(SCREENSHOT_FORMAT_STRINGS.at(ScreenshotFormat::JPG)),
             ScreenshotFormat::JPG);
    QVERIFY(!isAudioOnlyFormat(OutputFormat::GIF));
    QVERIFY(isAudioOnlyFormat(OutputFormat::MP3));
    QVERIFY(isAudioOnlyFormat(OutputFormat::FLAC));
    // appended after the sound formats, yet video
    QVERIFY(!isAudioOnlyFormat(OutputFormat::MKV));
    QVERIFY(!isAudioOnlyFormatIndex(int(OutputFormat::WEBM)));
}

void TestSettings::everyKeySurvivesARestartDeletedOnesComeBack()
{
    const QString path = m_dir.filePath("restart.conf");
    {
        QSettings settings(path, QSettings::NativeFormat);
        SCSettings::applyDefaults(settings);
        settings.setValue(SCSettings::GENERAL_LANGUAGE, "ja_JP");
        settings.setValue(SCSettings::RECORDING_FORMAT, "GIF");
    }
    {
        QSettings settings(path, QSettings::NativeFormat);
        for (const SCSettings::Default &d : SCSettings::defaults())
            QVERIFY2(settings.contains(d.key), qPrintable(d.key));
        QCOMPARE(settings.value(SCSettings::GENERAL_LANGUAGE).toString(), QString("ja_JP"));
        QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QString("GIF"));
        QVERIFY(SCSettings::applyDefaults(settings).isEmpty());
        settings.remove(SCSettings::RECORDING_FORMAT);
    }
    QSettings settings(path, QSettings::NativeFormat);
    QCOMPARE(SCSettings::applyDefaults(settings), QStringList {SCSettings::RECORDING_FORMAT});
    QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QString("MP4"));
}

void TestSettings::generatedNameCarriesDateAndTime()
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    QCOMPARE(SCRecordingName::generated(when), QString("Recording_2024_03_05_14-07-09"));
}

void TestSettings::typedNameIsANameNotAPath_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks around") << "  demo  "
                                   << "demo";
    QTest::newRow("plain") << "Meeting notes 3"
                           << "Meeting notes 3";
    QTest::newRow("separators") << "../../etc/passwd"
                                << "_.._etc_passwd";
    QTest::newRow("backslash") << "a\\b"
                               << "a_b";
    QTest::newRow("leading dots") << "...hidden"
                                  << "hidden";
    QTest::newRow("control characters") << QString("a\nb\tc\x01") << "a_b_c_";
    QTest::newRow("only dots") << "..."
                               << "";
    QTest::newRow("only blanks") << "   "
                                 << "";
    QTest::newRow("non-ASCII kept") << "Präsentation 日本"
                                    << "Präsentation 日本";
    QTest::newRow("quotes kept") << "it's \"fine\""
                                 << "it's \"fine\"";
}

void TestSettings::typedNameIsANameNotAPath()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    const QString name = SCRecordingName::sanitize(typed);
    QCOMPARE(name, expected);
    QVERIFY(!name.contains('/'));
}

void TestSettings::longNamesFitAFileSystem()
{
    const QString ascii = SCRecordingName::sanitize(QString(10000, 'x'));
    QCOMPARE(ascii.toUtf8().size(), SCRecordingName::MAX_NAME_BYTES);

    // Three bytes a character in UTF-8, and a character outside the BMP at the cut.
    QString wide = QString(100, QChar(0x65E5)) + QString::fromUtf8("😀😀😀😀");
    const QString cut = SCRecordingName::sanitize(wide);
    QVERIFY(cut.toUtf8().size() <= SCRecordingName::MAX_NAME_BYTES);
    QVERIFY(!cut.isEmpty());
    QVERIFY(!cut.back().isHighSurrogate());
    QCOMPARE(QString::fromUtf8(cut.toUtf8()), cut);

    QTemporaryDir dir;
    QFile file(
            dir.filePath(SCRecordingName::sanitize(QString(10000, QChar(0x00E9))) + " (99).flac"));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
}

void TestSettings::existingFilesAreNeverReplaced()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    QCOMPARE(SCRecordingName::uniqueBase(folder, "demo", "mp4"), folder + "/demo");

    QFile(folder + "/demo.mp4").open(QIODevice::WriteOnly);
    QCOMPARE(SCRecordingName::uniqueBase(folder, "demo", "mp4"), folder + "/demo (2)");
    // Another extension is another file.
    QCOMPARE(SCRecordingName::uniqueBase(folder, "demo", "flac"), folder + "/demo");

    QFile(folder + "/demo (2).mp4").open(QIODevice::WriteOnly);
    QFile(folder + "/demo (3).mp4").open(QIODevice::WriteOnly);
    QCOMPARE(SCRecordingName::uniqueBase(folder, "demo", "mp4"), folder + "/demo (4)");
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test-settings.moc"
