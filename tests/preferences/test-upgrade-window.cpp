// The update window against a local HTTP server that plays the maker's manifest endpoint.

#include "sc-upgrade-window.h"
#include "sc-version.h"

#include <QApplication>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QtTest>

// Answers every request with the body it holds at that moment.
class ManifestServer : public QObject
{
    Q_OBJECT

public:
    QByteArray body;

    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n")
                        || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                  "Connection: close\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\n\r\n");
                    socket->write(body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/update.json").arg(m_server.serverPort()));
    }

private:
    QTcpServer m_server;
};

class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestUpgradeWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase();
    void initTestCase();
    void versionsCompareAsNumbers_data();
    void versionsCompareAsNumbers();
    void newerReleaseShowsItsDetails();
    void sameVersionIsUpToDate();
    void manifestWithoutWindowsRecordKeepsWaiting();
    void refusedConnectionIsUpToDate();
    void badManifestsAreRefusedCalmly_data();
    void badManifestsAreRefusedCalmly();

private:
    int pageAfterFetch(const QByteArray &body, std::unique_ptr<SCUpgradeWindow> *keep = nullptr);
    ManifestServer m_server;
    UrlCatcher m_urls;
};

void TestUpgradeWindow::initTestCase()
{
    QVERIFY(m_server.start());
    SCUpgradeWindow::setManifestUrl(m_server.url());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urls, "open");
}

void TestUpgradeWindow::versionsCompareAsNumbers_data()
{
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("newer");
    QTest::newRow("patch 10 after 9") << "1.0.10"
                                      << "1.0.9" << true;
    QTest::newRow("major 10 after 9") << "10.0"
                                      << "9.0" << true;
    QTest::newRow("9 before 10") << "9.0"
                                 << "10.0" << false;
    QTest::newRow("same") << "1.0.0"
                          << "1.0.0" << false;
    QTest::newRow("trailing zero is the same") << "1.0"
                                               << "1.0.0" << false;
    QTest::newRow("minor") << "1.1.0"
                           << "1.0.0" << true;
    QTest::newRow("v prefix") << "v1.2"
                              << "1.0.0" << true;
    QTest::newRow("not a version") << "latest"
                                   << "1.0.0" << false;
    QTest::newRow("empty") << ""
                           << "1.0.0" << false;
    QTest::newRow("suffix") << "2.0-beta"
                            << "1.0.0" << false;
}

void TestUpgradeWindow::versionsCompareAsNumbers()
{
    QFETCH(QString, candidate);
    QFETCH(QString, current);
    QFETCH(bool, newer);
    QCOMPARE(Vistrel::isNewerVersion(candidate, current), newer);
}

// Opens a window that fetches by itself and waits until the server has answered.
int TestUpgradeWindow::pageAfterFetch(const QByteArray &body,
                                      std::unique_ptr<SCUpgradeWindow> *keep)
{
    m_server.body = body;
    auto window = std::make_unique<SCUpgradeWindow>(nullptr, QJsonObject());
    window->show();
    auto *pages = window->findChild<QStackedWidget *>("stackedWidget");
    auto *manager = window->findChild<QNetworkAccessManager *>();
    if (!manager)
        return -1;
    QSignalSpy finished(manager, &QNetworkAccessManager::finished);
    if (!finished.wait(20000))
        return -2;
    const int page = pages->currentIndex();
    if (keep)
        *keep = std::move(window);
    return page;
}

void TestUpgradeWindow::newerReleaseShowsItsDetails()
{
    std::unique_ptr<SCUpgradeWindow> window;
    const QByteArray manifest = R"({"win": {"version": "1.0.10", "size": "40MB",
        "date": "2026.11.02", "url": "https://www.ombrant.com/vistrel/download",
        "change": ["Faster start", "Fixed the region frame"]}})";
    QCOMPARE(pageAfterFetch(manifest, &window), 2);
    QCOMPARE(window->findChild<QLabel *>("newVersionLabel")->text(), QStringLiteral("1.0.10"));
    QCOMPARE(window->findChild<QLabel *>("sizeLabel")->text(), QStringLiteral("40MB"));
    QCOMPARE(window->findChild<QLabel *>("releaseDateLabel")->text(), QStringLiteral("2026.11.02"));
    QCOMPARE(window->findChild<QTextEdit *>("upgradeInfoTextEdit")->toPlainText(),
             QStringLiteral("Faster start\nFixed the region frame\n"));
    m_urls.urls.clear();
    window->findChild<QPushButton *>("upgradeBtn")->click();
    QCOMPARE(m_urls.urls, QList<QUrl> {QUrl("https://www.ombrant.com/vistrel/download")});
    QVERIFY(window->isVisible());

    // A download address that is no web page is never handed to the desktop.
    SCUpgradeWindow local(nullptr,
                          QJsonDocument::fromJson(R"({"win": {"version": "2.0",
        "url": "file:///etc/passwd", "change": []}})")
                                  .object());
    m_urls.urls.clear();
    local.findChild<QPushButton *>("upgradeBtn")->click();
    QVERIFY(m_urls.urls.isEmpty());
}

void TestUpgradeWindow::sameVersionIsUpToDate()
{
    std::unique_ptr<SCUpgradeWindow> window;
    QCOMPARE(pageAfterFetch(R"({"win": {"version": ")" + QByteArray(VISTREL_VERSION) + R"("}})",
                            &window),
             1);
    QCOMPARE(window->findChild<QLabel *>("currentVersionLabel")->text(),
             QStringLiteral(VISTREL_VERSION));
    // The manifest handed over by the main window goes straight to its page.
    SCUpgradeWindow given(nullptr,
                          QJsonDocument::fromJson(R"({"win": {"version": "9.0"}})").object());
    QCOMPARE(given.findChild<QStackedWidget *>("stackedWidget")->currentIndex(), 2);
}

void TestUpgradeWindow::manifestWithoutWindowsRecordKeepsWaiting()
{
    QCOMPARE(pageAfterFetch(R"({"mac": {"version": "9.9.9"}})"), 0);
}

void TestUpgradeWindow::refusedConnectionIsUpToDate()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    SCUpgradeWindow::setManifestUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port)));
    SCUpgradeWindow window(nullptr, QJsonObject());
    auto *pages = window.findChild<QStackedWidget *>("stackedWidget");
    QTRY_COMPARE(pages->currentIndex(), 1);
    SCUpgradeWindow::setManifestUrl(m_server.url());
}

void TestUpgradeWindow::badManifestsAreRefusedCalmly_data()
{
    QTest::addColumn<QByteArray>("body");
    QByteArray huge = R"({"win": {"version": "9.0", "change": [")";
    huge += QByteArray(SCUpgradeWindow::MAX_MANIFEST_BYTES * 4, 'x');
    huge += R"("]}})";
    QTest::newRow("huge") << huge;
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) & 0xff);
    QTest::newRow("binary") << binary;
    QTest::newRow("deeply nested") << QByteArray(100000, '[') + QByteArray(100000, ']');
}

void TestUpgradeWindow::badManifestsAreRefusedCalmly()
{
    QFETCH(QByteArray, body);
    QCOMPARE(pageAfterFetch(body), 0);
}

void TestUpgradeWindow::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

QTEST_MAIN(TestUpgradeWindow)
#include "test-upgrade-window.moc"
