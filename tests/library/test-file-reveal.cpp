#include "sc-desktop-open.h"
#include "sc-file-reveal.h"
#include "sc-logger.h"
#include "url-catcher.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
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

class TestFileReveal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void showInFolder_data();
    void showInFolder();
    void desktopOpenSaysWhyItFailed_data();
    void desktopOpenSaysWhyItFailed();
    void desktopOpenHandsOverQuietly();

private:
    QString makeFile(const QString &relative);

    QTemporaryDir m_dir;
    UrlCatcher m_opened {QStringList {QStringLiteral("file")}};
};

void TestFileReveal::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(),
             "needs a session bus: run inside scripts/test-env.sh");
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

void TestFileReveal::showInFolder_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("manager");
    QTest::newRow("plain") << "Screenshot_2025-03-07_09-05-31.png"
                           << "answers";
    QTest::newRow("blanks, quotes, letters")
            << "My \"best\" shots/it's Müller's Ärger – 東京 $(x) `y`.png"
            << "answers";
    QTest::newRow("percent and hash") << "100% #1 ?.png"
                                      << "answers";
    QTest::newRow("no file manager") << "no manager/it's \"here\".png"
                                     << "none";
    // On the bus, but without the method: it answers with an error.
    QTest::newRow("erroring file manager") << "broken/shot.png"
                                           << "errors";
}

// The file manager is asked to show the file; without one that answers, the folder opens.
void TestFileReveal::showInFolder()
{
    QFETCH(QString, relative);
    QFETCH(QString, manager);
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakeFileManager fake;
    QObject nothing;
    if (manager != "none") {
        QVERIFY(bus.registerObject(SCFileReveal::PATH, manager == "answers" ? &fake : &nothing,
                                   QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService(SCFileReveal::SERVICE));
    }
    QVERIFY(bus.interface()->isServiceRegistered(SCFileReveal::SERVICE) == (manager != "none"));
    const QString path = makeFile(relative);
    int answered = -1;
    SCFileReveal::showInFolder(
            path, nullptr, [&answered](bool viaFileManager) { answered = viaFileManager ? 1 : 0; });
    QTRY_VERIFY_WITH_TIMEOUT(answered != -1, 10000);
    bus.unregisterService(SCFileReveal::SERVICE);
    bus.unregisterObject(SCFileReveal::PATH);
    QCOMPARE(answered, manager == "answers" ? 1 : 0);
    if (manager != "answers") {
        QCOMPARE(m_opened.urls, QList<QUrl>({QUrl::fromLocalFile(QFileInfo(path).path())}));
        return;
    }
    QVERIFY(m_opened.urls.isEmpty());
    QCOMPARE(fake.calls.size(), 1);
    QCOMPARE(fake.calls.first().size(), 1);
    const QString uri = fake.calls.first().first();
    QVERIFY2(uri.startsWith("file:///"), qPrintable(uri));
    // A well-formed URI: nothing that a URI must escape is left raw.
    for (const QChar c : uri)
        QVERIFY2(c.unicode() > 32 && c.unicode() < 127 && c != '"' && c != ' ', qPrintable(uri));
    QCOMPARE(QUrl(uri, QUrl::StrictMode).toLocalFile(), path);
}

namespace {

QList<QMessageBox *> visibleMessages()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->objectName() == SCDesktopOpen::MESSAGE_NAME)
            boxes << box;
    }
    return boxes;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestFileReveal::desktopOpenSaysWhyItFailed_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("web page") << "web page";
    QTest::newRow("broken handler") << "broken handler";
    QTest::newRow("folder") << "folder";
    QTest::newRow("file") << "file";
    QTest::newRow("missing file") << "missing file";
}

void TestFileReveal::desktopOpenSaysWhyItFailed()
{
    QFETCH(QString, kind);
    QDesktopServices::unsetUrlHandler("file");
    // No xdg-open and no browser on the way.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_dir.filePath("no-programs")));
    QObject receiver;
    QString shown;
    bool opened = true;
    if (kind == "web page" || kind == "broken handler") {
        shown = "https://example.org/guide?page=1";
        if (kind == "broken handler")
            QDesktopServices::setUrlHandler("https", &receiver, "noSuchSlot");
        opened = SCDesktopOpen::openUrl(QUrl(shown), nullptr);
        // A second failure replaces the first message instead of stacking another.
        SCDesktopOpen::openUrl(QUrl(shown), nullptr);
        QDesktopServices::unsetUrlHandler("https");
    } else if (kind == "folder") {
        shown = m_dir.filePath("not yet there");
        opened = SCDesktopOpen::openFolder(shown, nullptr);
        QVERIFY(QFileInfo(shown).isDir());
    } else if (kind == "file") {
        shown = makeFile("a clip.mp4");
        opened = SCDesktopOpen::openFile(shown, nullptr);
    } else {
        shown = m_dir.filePath("gone.png");
        opened = SCDesktopOpen::openFile(shown, nullptr);
    }
    qputenv("PATH", path);
    QVERIFY(!opened);

    QTRY_COMPARE(visibleMessages().size(), 1);
    QMessageBox *box = visibleMessages().first();
    QVERIFY2(box->text().contains(shown), qPrintable(box->text()));
    QVERIFY(!box->styleSheet().isEmpty());
    QCOMPARE(box->text().contains("xdg-open"), kind != "missing file");
    QVERIFY(readAll(SCLogger::instance()->logFilePath())
                    .contains(QString("Could not open %1").arg(shown).toUtf8()));
    box->close();
    QTRY_VERIFY(visibleMessages().isEmpty());
}

void TestFileReveal::desktopOpenHandsOverQuietly()
{
    QDesktopServices::unsetUrlHandler("file");
    // A stand-in xdg-open that notes what it was given.
    const QString bin = m_dir.filePath("bin");
    QDir().mkpath(bin);
    const QString given = m_dir.filePath("given.txt");
    QFile script(bin + "/xdg-open");
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + QFile::encodeName(given) + "'\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ":" + path);

    const QString file = makeFile("to open/a clip.mp4");
    QVERIFY(SCDesktopOpen::openFile(file, nullptr));
    QVERIFY(SCDesktopOpen::openFolder(m_dir.filePath("to open"), nullptr));
    qputenv("PATH", path);
    QTRY_COMPARE(readAll(given).count('\n'), 2);
    // The two openers run side by side: either may write first.
    QStringList seen = QString::fromUtf8(readAll(given)).split('\n', Qt::SkipEmptyParts);
    seen.sort();
    QCOMPARE(seen,
             QStringList({QUrl::fromLocalFile(m_dir.filePath("to open")).toEncoded(),
                          QUrl::fromLocalFile(file).toEncoded()}));
    QCoreApplication::processEvents();
    QVERIFY(visibleMessages().isEmpty());
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir logs;
    SCLogger::instance()->initialize(logs.filePath("test.log"));
    TestFileReveal test;
    return QTest::qExec(&test, argc, argv);
}
#include "test-file-reveal.moc"
