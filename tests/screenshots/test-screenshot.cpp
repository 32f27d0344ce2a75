#include "sc-screenshot.h"
#include "sc-settings.h"

#include <QApplication>
#include <QImageReader>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestScreenshot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void generatedNameFollowsTheFormat_data();
    void generatedNameFollowsTheFormat();
    void nullPixmapIsRefusedButTheFolderIsMade();
    void invalidRequestsAreReported();
    void missingNestedFolderIsCreated();
    void emptyDirectoryIsIgnored();
    void twoSavesInOneSecondKeepBothFiles();
    void explicitPathIsReplaced();
    void unwritableFolderIsReported();
    void fullScreenAndAreaGrabs();

private:
    QPixmap picture(const QColor &colour) const;

    QTemporaryDir m_dir;
    QSettings m_settings {SCSettings::ORGANIZATION, SCSettings::APPLICATION};
};

void TestScreenshot::init()
{
    QDir(m_dir.path()).removeRecursively();
    QDir().mkpath(m_dir.path());
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_dir.filePath("shots"));
    m_settings.setValue(SCSettings::SCREENSHOT_FORMAT, "PNG");
}

QPixmap TestScreenshot::picture(const QColor &colour) const
{
    QPixmap pixmap(40, 30);
    pixmap.fill(colour);
    return pixmap;
}

void TestScreenshot::generatedNameFollowsTheFormat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("PNG") << "PNG"
                         << "png" << QByteArray("png");
    QTest::newRow("JPG") << "JPG"
                         << "jpg" << QByteArray("jpeg");
}

void TestScreenshot::generatedNameFollowsTheFormat()
{
    QFETCH(QString, format);
    QFETCH(QString, extension);
    QFETCH(QByteArray, encoded);
    m_settings.setValue(SCSettings::SCREENSHOT_FORMAT, format);
    SCScreenshot screenshot;
    const QRegularExpression name(
            QStringLiteral(R"(^Screenshot_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.%1$)").arg(extension));
    QVERIFY2(name.match(screenshot.generateFileName()).hasMatch(),
             qPrintable(screenshot.generateFileName()));

    QSignalSpy saved(&screenshot, &SCScreenshot::screenshotSaved);
    QVERIFY(screenshot.saveScreenshot(picture(Qt::green), QString()));
    const QString path = screenshot.getLastSavedPath();
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.first().first().toString(), path);
    QCOMPARE(QFileInfo(path).absolutePath(), m_dir.filePath("shots"));
    QVERIFY(path.endsWith("." + extension));
    QCOMPARE(QImageReader::imageFormat(path), encoded);
    QCOMPARE(QImage(path).size(), QSize(40, 30));
}

void TestScreenshot::nullPixmapIsRefusedButTheFolderIsMade()
{
    SCScreenshot screenshot;
    QDir(m_dir.filePath("shots")).removeRecursively();
    QSignalSpy errors(&screenshot, &SCScreenshot::error);
    QVERIFY(!screenshot.saveScreenshot(QPixmap(), QString()));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), QString("Cannot save empty screenshot"));
    QVERIFY(QFileInfo(m_dir.filePath("shots")).isDir());
    QVERIFY(QDir(m_dir.filePath("shots")).isEmpty());
    QVERIFY(screenshot.getLastSavedPath().isEmpty());
}

void TestScreenshot::invalidRequestsAreReported()
{
    SCScreenshot screenshot;
    QSignalSpy errors(&screenshot, &SCScreenshot::error);
    QSignalSpy captured(&screenshot, &SCScreenshot::screenshotCaptured);
    QVERIFY(screenshot.captureArea(QRect(10, 10, 0, 50)).isNull());
    QVERIFY(screenshot.captureWindow(0).isNull());
    QCOMPARE(errors.count(), 2);
    QCOMPARE(errors.at(0).first().toString(), QString("Invalid area specified"));
    QCOMPARE(errors.at(1).first().toString(), QString("Invalid window ID"));
    QCOMPARE(captured.count(), 0);
}

void TestScreenshot::missingNestedFolderIsCreated()
{
    SCScreenshot screenshot;
    const QString nested = m_dir.filePath("a/b/c");
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, nested);
    QVERIFY(screenshot.saveScreenshot(picture(Qt::blue), QString()));
    QCOMPARE(QFileInfo(screenshot.getLastSavedPath()).absolutePath(), nested);
    QCOMPARE(screenshot.getSaveDirectory(), nested);
}

void TestScreenshot::emptyDirectoryIsIgnored()
{
    SCScreenshot screenshot;
    const QString before = screenshot.getSaveDirectory();
    screenshot.setSaveDirectory(QString());
    QCOMPARE(screenshot.getSaveDirectory(), before);
    screenshot.setSaveDirectory(m_dir.filePath("other"));
    QCOMPARE(screenshot.getSaveDirectory(), m_dir.filePath("other"));
    QVERIFY(QFileInfo(m_dir.filePath("other")).isDir());
    // The setting wins at the next save.
    QVERIFY(screenshot.saveScreenshot(picture(Qt::red), QString()));
    QCOMPARE(screenshot.getSaveDirectory(), m_dir.filePath("shots"));
}

void TestScreenshot::twoSavesInOneSecondKeepBothFiles()
{
    SCScreenshot screenshot;
    // Start early in a second so that both saves share it.
    QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() < 300, 2000);
    const QString name = screenshot.generateFileName();
    QVERIFY(screenshot.saveScreenshot(picture(Qt::red), QString()));
    const QString first = screenshot.getLastSavedPath();
    QVERIFY(screenshot.saveScreenshot(picture(Qt::blue), QString()));
    const QString second = screenshot.getLastSavedPath();
    QVERIFY(screenshot.saveScreenshot(picture(Qt::green), QString()));
    const QString third = screenshot.getLastSavedPath();
    if (screenshot.generateFileName() != name)
        QSKIP("the second changed between the saves");

    QCOMPARE(QFileInfo(first).fileName(), name);
    QCOMPARE(QFileInfo(second).fileName(), QString(name).replace(".png", "_2.png"));
    QCOMPARE(QFileInfo(third).fileName(), QString(name).replace(".png", "_3.png"));
    QCOMPARE(QImage(first).pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(QImage(second).pixelColor(0, 0), QColor(Qt::blue));
    QCOMPARE(QImage(third).pixelColor(0, 0), QColor(Qt::green));
}

void TestScreenshot::explicitPathIsReplaced()
{
    SCScreenshot screenshot;
    const QString path = m_dir.filePath("given/name.png");
    QVERIFY(screenshot.saveScreenshot(picture(Qt::red), path));
    QVERIFY(screenshot.saveScreenshot(picture(Qt::blue), path));
    QCOMPARE(screenshot.getLastSavedPath(), path);
    QCOMPARE(QImage(path).pixelColor(0, 0), QColor(Qt::blue));
    QCOMPARE(QDir(m_dir.filePath("given")).entryList(QDir::Files), QStringList({"name.png"}));
}

void TestScreenshot::unwritableFolderIsReported()
{
    SCScreenshot screenshot;
    QVERIFY(screenshot.saveScreenshot(picture(Qt::red), QString()));
    const QString previous = screenshot.getLastSavedPath();

    // Tests run as root, so a regular file in the way stands in for a read-only folder.
    QFile blocker(m_dir.filePath("afile"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_dir.filePath("afile/sub"));
    QSignalSpy errors(&screenshot, &SCScreenshot::error);
    QSignalSpy saved(&screenshot, &SCScreenshot::screenshotSaved);
    QVERIFY(!screenshot.saveScreenshot(picture(Qt::red), QString()));
    QCOMPARE(saved.count(), 0);
    QCOMPARE(errors.count(), 1);
    const QString message = errors.first().first().toString();
    QVERIFY2(message.startsWith("Failed to save screenshot to "
                                + m_dir.filePath("afile/sub/Screenshot_")),
             qPrintable(message));
    QVERIFY(message.endsWith(".png"));
    QCOMPARE(screenshot.getLastSavedPath(), previous);
}

void TestScreenshot::fullScreenAndAreaGrabs()
{
    SCScreenshot screenshot;
    QSignalSpy captured(&screenshot, &SCScreenshot::screenshotCaptured);
    const QPixmap full = screenshot.captureFullScreen();
    QCOMPARE(full.size(), QGuiApplication::primaryScreen()->size());
    const QPixmap area = screenshot.captureArea(QRect(10, 20, 30, 40));
    QCOMPARE(area.size(), QSize(30, 40));
    QCOMPARE(captured.count(), 2);
}

int main(int argc, char **argv)
{
    // A private settings store.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    TestScreenshot test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-screenshot.moc"
