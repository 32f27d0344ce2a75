#include "sc-compositor-watcher.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

// Runs twice: in the default session (compositing manager running) and in a session of its
// own without one; VISTREL_EXPECT_COMPOSITOR says which.
class TestCompositorWatcher : public QObject
{
    Q_OBJECT

private slots:
    void reportsTheSession();
    void followsACompositorStartingAndStopping();
};

static bool expectCompositor()
{
    return qEnvironmentVariable("VISTREL_EXPECT_COMPOSITOR", "1") == "1";
}

void TestCompositorWatcher::reportsTheSession()
{
    QCOMPARE(SCCompositorWatcher::instance()->isCompositing(), expectCompositor());
}

void TestCompositorWatcher::followsACompositorStartingAndStopping()
{
    if (expectCompositor())
        QSKIP("the session's own compositing manager holds the screen");

    SCCompositorWatcher *watcher = SCCompositorWatcher::instance();
    QSignalSpy spy(watcher, &SCCompositorWatcher::compositingChanged);

    QProcess compositor;
    compositor.start("xcompmgr", {});
    QVERIFY2(compositor.waitForStarted(5000), qPrintable(compositor.errorString()));
    QVERIFY(spy.wait(10000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QVERIFY(watcher->isCompositing());

    compositor.kill();
    compositor.waitForFinished(5000);
    QVERIFY(spy.wait(10000));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!watcher->isCompositing());

    // A second start is seen as well: the watch outlives the first owner.
    compositor.start("xcompmgr", {});
    QVERIFY(compositor.waitForStarted(5000));
    QVERIFY(spy.wait(10000));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(2).at(0).toBool(), true);
    compositor.terminate();
    compositor.waitForFinished(5000);
}

QTEST_MAIN(TestCompositorWatcher)
#include "test-compositor-watcher.moc"
