#include "sc-recording-name.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestRecordingName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void generatedNameCarriesDateAndTime();
    void typedNameIsANameNotAPath_data();
    void typedNameIsANameNotAPath();
    void longNamesFitAFileSystem();
    void existingFilesAreNeverReplaced();
};

void TestRecordingName::generatedNameCarriesDateAndTime()
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    QCOMPARE(SCRecordingName::generated(when), QString("Recording_2024_03_05_14-07-09"));
}

void TestRecordingName::typedNameIsANameNotAPath_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks around") << "  demo  " << "demo";
    QTest::newRow("plain") << "Meeting notes 3" << "Meeting notes 3";
    QTest::newRow("separators") << "../../etc/passwd" << "_.._etc_passwd";
    QTest::newRow("backslash") << "a\\b" << "a_b";
    QTest::newRow("leading dots") << "...hidden" << "hidden";
    QTest::newRow("control characters") << QString("a\nb\tc\x01") << "a_b_c_";
    QTest::newRow("only dots") << "..." << "";
    QTest::newRow("only blanks") << "   " << "";
    QTest::newRow("non-ASCII kept") << "Präsentation 日本" << "Präsentation 日本";
    QTest::newRow("quotes kept") << "it's \"fine\"" << "it's \"fine\"";
}

void TestRecordingName::typedNameIsANameNotAPath()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    const QString name = SCRecordingName::sanitize(typed);
    QCOMPARE(name, expected);
    QVERIFY(!name.contains('/'));
}

void TestRecordingName::longNamesFitAFileSystem()
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
    QFile file(dir.filePath(SCRecordingName::sanitize(QString(10000, QChar(0x00E9))) + " (99).flac"));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
}

void TestRecordingName::existingFilesAreNeverReplaced()
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

QTEST_GUILESS_MAIN(TestRecordingName)
#include "test-recording-name.moc"
