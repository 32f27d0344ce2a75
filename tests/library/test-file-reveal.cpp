#include "sc-file-reveal.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

// Stands in for the desktop's file manager on the test session bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> calls;
    QStringList startupIds;

public Q_SLOTS:
    Q_SCRIPTABLE void ShowItems(const QStringList &uris, const QString &startupId)
    {
        calls << uris;
        startupIds << startupId;
    }
};

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestFileReveal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void fileManagerShowsTheFile_data();
    void fileManagerShowsTheFile();
    void withoutFileManagerTheFolderOpens();
    void erroringFileManagerFallsBackToTheFolder();

private:
    QString makeFile(const QString &relative);

    QTemporaryDir m_dir;
    UrlRecorder m_opened;
};

void TestFileReveal::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(),
             "needs a session bus: run inside scripts/test-env.sh");
    QDesktopServices::setUrlHandler("file", &m_opened, "open");
}

void TestFileReveal::cleanup()
{
    m_opened.urls.clear();
}

QString TestFileReveal::makeFile(const QString &relative)
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("x");
    return path;
}

void TestFileReveal::fileManagerShowsTheFile_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("plain") << QString("Screenshot_2025-03-07_09-05-31.png");
    QTest::newRow("blanks, quotes, letters")
            << QString("My \"best\" shots/it's Müller's Ärger – 東京 $(x) `y`.png");
    QTest::newRow("percent and hash") << QString("100% #1 ?.png");
}

void TestFileReveal::fileManagerShowsTheFile()
{
    QFETCH(QString, relative);
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakeFileManager fake;
    QVERIFY(bus.registerObject(SCFileReveal::PATH, &fake, QDBusConnection::ExportScriptableSlots));
    QVERIFY(bus.registerService(SCFileReveal::SERVICE));

    const QString path = makeFile(relative);
    int answered = -1;
    SCFileReveal::showInFolder(
            path, [&answered](bool viaFileManager) { answered = viaFileManager ? 1 : 0; });
    QTRY_COMPARE_WITH_TIMEOUT(answered, 1, 10000);

    bus.unregisterService(SCFileReveal::SERVICE);
    bus.unregisterObject(SCFileReveal::PATH);

    QCOMPARE(fake.calls.size(), 1);
    QCOMPARE(fake.calls.first().size(), 1);
    const QString uri = fake.calls.first().first();
    QVERIFY2(uri.startsWith("file:///"), qPrintable(uri));
    // A well-formed URI: nothing that a URI must escape is left raw.
    for (const QChar c : uri)
        QVERIFY2(c.unicode() > 32 && c.unicode() < 127 && c != '"' && c != ' ', qPrintable(uri));
    QCOMPARE(QUrl(uri, QUrl::StrictMode).toLocalFile(), path);
    QVERIFY(m_opened.urls.isEmpty());
}

void TestFileReveal::withoutFileManagerTheFolderOpens()
{
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(SCFileReveal::SERVICE));
    const QString path = makeFile("no manager/it's \"here\".png");
    int answered = -1;
    SCFileReveal::showInFolder(
            path, [&answered](bool viaFileManager) { answered = viaFileManager ? 1 : 0; });
    QTRY_COMPARE_WITH_TIMEOUT(answered, 0, 10000);
    QCOMPARE(m_opened.urls.size(), 1);
    QCOMPARE(m_opened.urls.first(), QUrl::fromLocalFile(m_dir.filePath("no manager")));
}

void TestFileReveal::erroringFileManagerFallsBackToTheFolder()
{
    // A service that is on the bus but does not know the method answers with an error.
    QDBusConnection bus = QDBusConnection::sessionBus();
    QObject nothing;
    QVERIFY(bus.registerObject(SCFileReveal::PATH, &nothing));
    QVERIFY(bus.registerService(SCFileReveal::SERVICE));
    const QString path = makeFile("broken/shot.png");
    int answered = -1;
    SCFileReveal::showInFolder(
            path, [&answered](bool viaFileManager) { answered = viaFileManager ? 1 : 0; });
    QTRY_COMPARE_WITH_TIMEOUT(answered, 0, 10000);
    bus.unregisterService(SCFileReveal::SERVICE);
    bus.unregisterObject(SCFileReveal::PATH);
    QCOMPARE(m_opened.urls.size(), 1);
    QCOMPARE(m_opened.urls.first(), QUrl::fromLocalFile(m_dir.filePath("broken")));
}

QTEST_MAIN(TestFileReveal)
#include "test-file-reveal.moc"
