// The update window against a local HTTP server that plays the maker's manifest endpoint.

#include "sc-logger.h"
#include "sc-upgrade-window.h"
#include "sc-version.h"
#include "test-home.h"
#include "url-catcher.h"

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
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

// Answers every request with the status and body it holds at that moment.
class ManifestServer : public QObject
{
    Q_OBJECT

public:
    QByteArray body;
    QByteArray status = "200 OK";

    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n")
                        || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    socket->write("HTTP/1.1 " + status
                                  + "\r\nContent-Type: application/json\r\n"
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

class TestUpgradeWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { m_server.status = "200 OK"; }
    void versionsCompareAsNumbers();
    void releaseOrUpToDateShowsItsDetails();
    void failedChecksSayWhyAndCanBeRetried_data();
    void failedChecksSayWhyAndCanBeRetried();
    void refusedConnectionIsNoConnection();

private:
    int pageAfterFetch(const QByteArray &body, std::unique_ptr<SCUpgradeWindow> *keep = nullptr);
    ManifestServer m_server;
    UrlCatcher m_urls;
    TestHome m_home;
};

void TestUpgradeWindow::initTestCase()
{
    QVERIFY(m_home.openLog());
    QVERIFY(m_server.start());
    SCUpgradeWindow::setManifestUrl(m_server.url());
}

void TestUpgradeWindow::versionsCompareAsNumbers()
{
    struct Case
    {
        const char *candidate;
        const char *current;
        bool newer;
    };
    const Case cases[]
            = {{"1.0.10", "1.0.9", true},   {"10.0", "9.0", true},      {"9.0", "10.0", false},
               {"1.0.0", "1.0.0", false},   {"1.0", "1.0.0", false},    {"1.1.0", "1.0.0", true},
               {"v1.2", "1.0.0", true},     {"latest", "1.0.0", false}, {"", "1.0.0", false},
               {"2.0-beta", "1.0.0", false}};
    for (const Case &c : cases)
        QVERIFY2(Vistrel::isNewerVersion(c.candidate, c.current) == c.newer,
                 qPrintable(QString("%1 after %2").arg(c.candidate, c.current)));
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

void TestUpgradeWindow::releaseOrUpToDateShowsItsDetails()
{
    std::unique_ptr<SCUpgradeWindow> window;
    QCOMPARE(pageAfterFetch(R"({"win": {"version": ")" + QByteArray(VISTREL_VERSION) + R"("}})",
                            &window),
             int(SCUpgradeWindow::UpToDatePage));
    QCOMPARE(window->findChild<QLabel *>("currentVersionLabel")->text(),
             QStringLiteral(VISTREL_VERSION));

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
    // The manifest handed over by the main window goes straight to its page.
    QCOMPARE(local.findChild<QStackedWidget *>("stackedWidget")->currentIndex(), 2);
}

void TestUpgradeWindow::failedChecksSayWhyAndCanBeRetried_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");
    const QString unreadable
            = SCUpgradeWindow::tr("The update information from the server cannot be read.");
    QTest::newRow("server error")
            << QByteArray("500 Internal Server Error") << QByteArray("<html>oops</html>")
            << SCUpgradeWindow::tr("The update server answered with an error (HTTP %1).").arg(500);
    QTest::newRow("not found")
            << QByteArray("404 Not Found") << QByteArray()
            << SCUpgradeWindow::tr("The update server answered with an error (HTTP %1).").arg(404);
    QTest::newRow("garbage") << QByteArray("200 OK") << QByteArray("{\"win\": {\"version\": ")
                             << unreadable;
    QTest::newRow("no release record")
            << QByteArray("200 OK") << QByteArray(R"({"mac": {"version": "9.9.9"}})") << unreadable;
    QTest::newRow("no version") << QByteArray("200 OK") << QByteArray(R"({"win": {"size": "1"}})")
                                << unreadable;
    QByteArray huge = R"({"win": {"version": "9.0", "change": [")";
    huge += QByteArray(SCUpgradeWindow::MAX_MANIFEST_BYTES * 4, 'x');
    huge += R"("]}})";
    QTest::newRow("huge") << QByteArray("200 OK") << huge << unreadable;
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) & 0xff);
    QTest::newRow("binary") << QByteArray("200 OK") << binary << unreadable;
    QTest::newRow("deeply nested")
            << QByteArray("200 OK") << QByteArray(100000, '[') + QByteArray(100000, ']')
            << unreadable;
}

// A failure is never reported as "up to date": the window says the check failed and why,
// the log has it, and "Try Again" asks the server once more.
void TestUpgradeWindow::failedChecksSayWhyAndCanBeRetried()
{
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    m_server.status = status;
    std::unique_ptr<SCUpgradeWindow> window;
    const int before = m_home.log().count("Update check failed");
    QCOMPARE(pageAfterFetch(body, &window), int(SCUpgradeWindow::CheckFailedPage));
    QCOMPARE(window->findChild<QLabel *>("failureReasonLabel")->text(), reason);
    QVERIFY(window->findChild<QPushButton *>("retryBtn")->isVisible());
    QTRY_COMPARE(m_home.log().count("Update check failed"), before + 1);

    m_server.status = "200 OK";
    m_server.body = R"({"win": {"version": ")" + QByteArray(VISTREL_VERSION) + R"("}})";
    window->findChild<QPushButton *>("retryBtn")->click();
    auto *pages = window->findChild<QStackedWidget *>("stackedWidget");
    QCOMPARE(pages->currentIndex(), int(SCUpgradeWindow::CheckingPage));
    QTRY_COMPARE_WITH_TIMEOUT(pages->currentIndex(), int(SCUpgradeWindow::UpToDatePage), 20000);
}

void TestUpgradeWindow::refusedConnectionIsNoConnection()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    SCUpgradeWindow::setManifestUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port)));
    SCUpgradeWindow window(nullptr, QJsonObject());
    auto *pages = window.findChild<QStackedWidget *>("stackedWidget");
    QTRY_COMPARE(pages->currentIndex(), int(SCUpgradeWindow::CheckFailedPage));
    QCOMPARE(window.findChild<QLabel *>("failureReasonLabel")->text(),
             SCUpgradeWindow::tr("There is no connection to the update server."));
    QVERIFY(m_home.log().contains(QStringLiteral("127.0.0.1:%1").arg(port)));
    SCUpgradeWindow::setManifestUrl(m_server.url());
}

QTEST_MAIN(TestUpgradeWindow)
#include "test-upgrade-window.moc"
