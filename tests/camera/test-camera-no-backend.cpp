// Without a loadable multimedia backend Qt aborts on the first device query. The webcam
// switch must instead refuse with its warning, and the log must say why in one line.

#include "message-box-catcher.h"
#include "sc-main-window.h"
#include "sc-settings.h"
#include "sc-switch-widget.h"
#include "test-home.h"

#include <QtTest>

namespace {
TestHome *g_home = nullptr;
}

class TestCameraNoBackend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void webcamSwitchWarnsAndTheLogSaysWhy();
};

void TestCameraNoBackend::webcamSwitchWarnsAndTheLogSaysWhy()
{
    QTemporaryDir empty;
    QCoreApplication::setLibraryPaths({empty.path()});
    QVERIFY(g_home->openLog());

    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    }
    auto *boxes = new MessageBoxCatcher(this);
    SCMainWindow window;
    auto *webcam = window.findChild<SCSwitchWidget *>(QStringLiteral("webcamSwitch"));
    QVERIFY(webcam);
    webcam->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(boxes->texts, QStringList {"No camera device found!"}, 5000);
    QCOMPARE(boxes->titles, QStringList {"Warning"});
    QVERIFY(!webcam->isChecked());
    QCOMPARE(g_home->count(QStringLiteral("No Qt Multimedia backend can be loaded (no plug-in in "
                                          "%1/multimedia)")
                                   .arg(empty.path())),
             1);

    // A second try neither aborts nor repeats the explanation.
    webcam->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(boxes->texts.size(), 2, 5000);
    QCOMPARE(g_home->count(QStringLiteral("No Qt Multimedia backend")), 1);
}

int main(int argc, char **argv)
{
    TestHome home;
    g_home = &home;
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestCameraNoBackend test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-camera-no-backend.moc"
