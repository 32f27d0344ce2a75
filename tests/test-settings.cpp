#include "sc-settings.h"
#include "sc-types.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultsFillAnEmptyStore();
    void defaultsNeverOverwrite();
    void deletedKeyComesBack();
    void formatTablesRoundTrip();
    void everyKeySurvivesARestart();

private:
    QTemporaryDir m_dir;
};

void TestSettings::defaultsFillAnEmptyStore()
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
}

void TestSettings::defaultsNeverOverwrite()
{
    QSettings settings(m_dir.filePath("stored.ini"), QSettings::IniFormat);
    settings.setValue(SCSettings::RECORDING_FORMAT, "GIF");
    settings.setValue(SCSettings::RECORDING_MIC_SWITCH, true);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, "None");
    // Even values the program would reject stay as the user (or a damaged store) left them.
    settings.setValue(SCSettings::SCREENSHOT_FORMAT, "XYZ");
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);

    const QStringList written = SCSettings::applyDefaults(settings);
    QCOMPARE(written.size(), int(SCSettings::defaults().size()) - 5);
    QVERIFY(!written.contains(SCSettings::RECORDING_FORMAT));
    QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QString("GIF"));
    QCOMPARE(settings.value(SCSettings::RECORDING_MIC_SWITCH).toBool(), true);
    QCOMPARE(settings.value(SCSettings::HOTKEYS_RECORDING).toString(), QString("None"));
    QCOMPARE(settings.value(SCSettings::SCREENSHOT_FORMAT).toString(), QString("XYZ"));
    QCOMPARE(settings.value(SCSettings::GENERAL_FIRST_RUN).toBool(), false);

    // A second application writes nothing at all.
    QVERIFY(SCSettings::applyDefaults(settings).isEmpty());
}

void TestSettings::deletedKeyComesBack()
{
    const QString path = m_dir.filePath("restore.ini");
    {
        QSettings settings(path, QSettings::IniFormat);
        SCSettings::applyDefaults(settings);
        settings.setValue(SCSettings::RECORDING_FORMAT, "GIF");
    }
    {
        QSettings settings(path, QSettings::IniFormat);
        QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QString("GIF"));
        settings.remove(SCSettings::RECORDING_FORMAT);
    }
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(SCSettings::applyDefaults(settings), QStringList {SCSettings::RECORDING_FORMAT});
    QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QString("MP4"));
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
}

void TestSettings::everyKeySurvivesARestart()
{
    const QString path = m_dir.filePath("restart.conf");
    {
        QSettings settings(path, QSettings::NativeFormat);
        SCSettings::applyDefaults(settings);
        settings.setValue(SCSettings::GENERAL_LANGUAGE, "ja_JP");
    }
    QSettings settings(path, QSettings::NativeFormat);
    for (const SCSettings::Default &d : SCSettings::defaults())
        QVERIFY2(settings.contains(d.key), qPrintable(d.key));
    QCOMPARE(settings.value(SCSettings::GENERAL_LANGUAGE).toString(), QString("ja_JP"));
    QVERIFY(SCSettings::applyDefaults(settings).isEmpty());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test-settings.moc"
