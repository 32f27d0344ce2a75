// The monitor and the sound devices a recording takes, on a desktop of two monitors side by
// side (a 3840 x 1080 screen split by RandR; a second run gives the second one twice the pixel
// ratio: its files keep all of its device pixels) with a sound server offering a second fed
// microphone and a second output: each monitor and their box give files of its size showing
// its colour, a region on the second monitor records that monitor, devices chosen in the
// preferences are the ones heard at the gain chosen, and a saved device that is gone falls
// back to the default with a note.

#include "desktop-input.h"
#include "media-probe.h"
#include "message-box-catcher.h"
#include "pattern-widget.h"
#include "sc-display-choice.h"
#include "sc-draw-window.h"
#include "sc-main-window.h"
#include "sc-note.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "test-home.h"
#include "url-catcher.h"
#include "volume-control.h"
#include "widget-lookup.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStackedWidget>
#include <QtTest>

#include <cstdlib>

namespace {

TestHome *g_home = nullptr;
const QColor FIRST(220, 30, 30);
const QColor SECOND(30, 60, 220);
constexpr int MIC_HZ = 1500;
constexpr int OUTPUT_HZ = 700;

QColor byMonitor(int x, int)
{
    return x < 1920 ? FIRST : SECOND;
}

QString band(int hz)
{
    const QString one = QStringLiteral("bandpass=f=%1:width_type=q:w=4").arg(hz);
    return one + ',' + one + ',' + one;
}

// pactl's answer (a loaded module's index), or nothing when it failed.
std::optional<QByteArray> pactl(const QStringList &arguments)
{
    return MediaProbe::runTool("pactl", arguments, 10000);
}

// The second run gives the second monitor twice the pixel ratio of the first.
bool mixedRatios()
{
    return !qEnvironmentVariableIsEmpty("QT_SCREEN_SCALE_FACTORS");
}

// What is wrong with a recording's size and the colours 100 px in from its left and right
// edges; empty when nothing is.
QString pictureFault(const QString &file, const QSize &size, const QColor &left,
                     const QColor &right)
{
    const QJsonObject video = MediaProbe(file).stream("video");
    const QSize found(video["width"].toInt(), video["height"].toInt());
    const QImage frame = MediaProbe::frame(file, g_home->filePath("frame.png"), true);
    auto near = [&](int x, const QColor &c) {
        const QColor p = frame.pixelColor(x, 100);
        return std::abs(p.red() - c.red()) + std::abs(p.green() - c.green())
                + std::abs(p.blue() - c.blue())
                < 80;
    };
    if (found != size || !near(100, left) || !near(found.width() - 100, right))
        return QString("%1x%2, %3 .. %4")
                .arg(found.width())
                .arg(found.height())
                .arg(frame.pixelColor(100, 100).name(),
                     frame.pixelColor(found.width() - 100, 100).name());
    return {};
}

} // namespace

class TestDevices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fullScreenTakesTheChosenMonitor_data();
    void fullScreenTakesTheChosenMonitor();
    void regionOnTheSecondMonitor();
    void chosenDevicesAreHeardAtTheirGain();

private:
    template<typename T> T *child(const char *name) { return childOf<T>(m_window.get(), name); }
    void release(const char *tile)
    {
        QTest::mouseRelease(child<QWidget>(tile), Qt::LeftButton, {},
                            child<QWidget>(tile)->rect().center());
    }
    QString record(int milliseconds);
    SCSettingsWindow *openPreferences();

    QByteArray m_micModule;
    std::vector<std::unique_ptr<PatternWidget>> m_desktop;
    std::unique_ptr<SCMainWindow> m_window;
    UrlCatcher m_urls;
};

void TestDevices::initTestCase()
{
    QCOMPARE(QGuiApplication::screens().size(), 2);
    QVERIFY(g_home->openLog());
    // A second microphone with a tone of its own, and a second output with another.
    const QStringList modules
            = {"module-null-sink sink_name=mic2_feed",
               "module-remap-source source_name=tone_mic master=mic2_feed.monitor",
               QString("module-sine sink=mic2_feed frequency=%1").arg(MIC_HZ),
               "module-null-sink sink_name=second_out",
               QString("module-sine sink=second_out frequency=%1").arg(OUTPUT_HZ)};
    for (const QString &module : modules) {
        const auto index = pactl(QStringList {"load-module"} + module.split(' '));
        QVERIFY2(index, qPrintable(module));
        if (module.contains("tone_mic"))
            m_micModule = index->trimmed();
    }
    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::RECORDING_FORMAT, "MP4");
        settings.setValue(SCSettings::HOTKEYS_RECORDING, "None");
        settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, "None");
        settings.setValue(SCSettings::MOUSE_SWITCH, false);
        settings.setValue(SCSettings::MOUSE_SHOW_CURSOR, false);
        settings.setValue(SCSettings::RECORDING_MIC_SWITCH, true);
        // unplugged since the last run
        settings.setValue(SCSettings::RECORDING_MIC_DEVICE, "usb_mic_gone");
    }
    new MessageBoxCatcher(this);
    // One window per monitor: a window takes the pixel ratio of one screen only.
    for (QScreen *screen : QGuiApplication::screens()) {
        m_desktop.push_back(std::make_unique<PatternWidget>(byMonitor));
        m_desktop.back()->setGeometry(screen->geometry());
        m_desktop.back()->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_desktop.back().get()));
    }
    m_window = std::make_unique<SCMainWindow>();
    m_window->setCountdownSeconds(0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->initObsRecording();
    const QRect second = QGuiApplication::screens()[1]->geometry();
    m_window->move(second.right() - m_window->width() - 10, second.bottom() - m_window->height());

    QTRY_VERIFY(visibleTopLevel<SCNote>());
    QVERIFY(visibleTopLevel<SCNote>()->text().contains("microphone"));
    QCOMPARE(g_home->count("\"usb_mic_gone\" is not there"), 1);
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(settings.value(SCSettings::RECORDING_MIC_DEVICE).toString(), "usb_mic_gone");

    auto *displays = child<SCDisplayChoice>("displayComboBox");
    QVERIFY(displays->isVisible());
    QCOMPARE(displays->count(), 3);
    QCOMPARE(displays->itemText(1),
             QString("%1 (1920x1080)").arg(QGuiApplication::screens()[1]->name()));
    QCOMPARE(displays->itemText(2), "All monitors");
}

QString TestDevices::record(int milliseconds)
{
    auto *label = child<QLabel>("recordingLabel");
    auto *pages = child<QStackedWidget>("mainFunctionPages");
    QTimer::singleShot(0, this, [this] { release("recordingControlWidget"); });
    if (!QTest::qWaitFor([&] { return label->text() == "Stop Recording"; }, 20000))
        return {};
    QTest::qWait(milliseconds);
    release("recordingControlWidget");
    if (!QTest::qWaitFor([&] { return pages->currentIndex() == 1; }, 20000))
        return {};
    QTest::qWait(100);
    auto *list = child<QListView>("fileListView");
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    const QString file
            = selected.isEmpty() ? QString() : selected.first().data(Qt::UserRole + 1).toString();
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    return file;
}

void TestDevices::fullScreenTakesTheChosenMonitor_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");
    QTest::newRow("second") << 1 << QSize(1920, 1080) << SECOND << SECOND;
    QTest::newRow("all") << 2 << QSize(3840, 1080) << FIRST << SECOND;
    QTest::newRow("first") << 0 << QSize(1920, 1080) << FIRST << FIRST;
    // a monitor stored earlier that is not connected now: the primary one
    QTest::newRow("gone") << -1 << QSize(1920, 1080) << FIRST << FIRST;
}

void TestDevices::fullScreenTakesTheChosenMonitor()
{
    QFETCH(int, item);
    QFETCH(QSize, size);
    QFETCH(QColor, left);
    QFETCH(QColor, right);
    auto *displays = child<SCDisplayChoice>("displayComboBox");
    if (item >= 0) {
        displays->setCurrentIndex(item);
        emit displays->activated(item);
    } else {
        QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
                .setValue(SCSettings::RECORDING_DISPLAY, "HDMI-9");
    }
    release("fullScreenWidget");
    const QString fault = pictureFault(record(1500), size, left, right);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    if (item < 0)
        QCOMPARE(g_home->count("\"HDMI-9\" is not connected"), 1);
}

void TestDevices::regionOnTheSecondMonitor()
{
    if (mixedRatios())
        QSKIP("the full-screen cases are the ones run at two pixel ratios");
    // Chosen with the selector on the second monitor, it records that monitor's picture.
    const QRect area(2400, 200, 640, 360);
    release("selectRegionWidget");
    QTest::qWait(500);
    QVERIFY(dragPointer(area.topLeft(), area.topLeft() + QPoint(640, 360)));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<DrawWindow>(), 5000);
    const QString fault = pictureFault(record(1500), area.size(), SECOND, SECOND);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    release("fullScreenWidget");
}

SCSettingsWindow *TestDevices::openPreferences()
{
    QTest::mouseClick(child<QPushButton>("menuBtn"), Qt::LeftButton);
    QMenu *menu = nullptr;
    if (!QTest::qWaitFor([&] { return (menu = m_window->findChild<QMenu *>("mainMenu")); }))
        return nullptr;
    for (QAction *action : menu->actions())
        if (action->text() == "Preferences")
            action->trigger();
    menu->hide();
    SCSettingsWindow *window = nullptr;
    return QTest::qWaitFor([&] { return (window = visibleTopLevel<SCSettingsWindow>()); })
            ? window
            : nullptr;
}

void TestDevices::chosenDevicesAreHeardAtTheirGain()
{
    if (mixedRatios())
        QSKIP("the full-screen cases are the ones run at two pixel ratios");
    SCSettingsWindow *settings = openPreferences();
    QVERIFY(settings);
    auto choose = [&](const char *combo, const QString &id) {
        auto *box = childOf<QComboBox>(settings, combo);
        const int index = box->findData(id);
        if (index < 0)
            return false;
        box->setCurrentIndex(index);
        emit box->activated(index);
        return true;
    };
    auto *micBox = childOf<QComboBox>(settings, "micDeviceComboBox");
    QCOMPARE(micBox->itemData(0).toString(), "default");
    // the saved device that is gone is not offered, the default stands for it
    QCOMPARE(micBox->currentIndex(), 0);
    QVERIFY(choose("micDeviceComboBox", "tone_mic"));
    QVERIFY(choose("speakerDeviceComboBox", "second_out.monitor"));
    // the meters of the page show the chosen devices' sound
    QTRY_VERIFY(childOf<VolumeControl>(settings, "micLevelMeter")->litSegments() > 0);
    QTRY_VERIFY(childOf<VolumeControl>(settings, "speakerLevelMeter")->litSegments() > 0);
    settings->close();

    const QString loud = record(2500);
    const auto micLoud = MediaProbe::loudness(loud, band(MIC_HZ), 0.5);
    const auto outputLoud = MediaProbe::loudness(loud, band(OUTPUT_HZ), 0.5);
    qInfo("100 %%: %d Hz %.1f dB, %d Hz %.1f dB", MIC_HZ, micLoud.mean, OUTPUT_HZ, outputLoud.mean);
    QVERIFY(micLoud.mean > -35.0);
    QVERIFY(outputLoud.mean > -35.0);

    // A quarter of the microphone's gain is 12 dB less of its tone; the output stays.
    QVERIFY((settings = openPreferences()));
    childOf<QSlider>(settings, "micGainSlider")->setValue(25);
    settings->close();
    const QString quiet = record(2500);
    const auto micQuiet = MediaProbe::loudness(quiet, band(MIC_HZ), 0.5);
    const auto outputQuiet = MediaProbe::loudness(quiet, band(OUTPUT_HZ), 0.5);
    qInfo("25 %%: %d Hz %.1f dB, %d Hz %.1f dB", MIC_HZ, micQuiet.mean, OUTPUT_HZ,
          outputQuiet.mean);
    QVERIFY(micLoud.mean - micQuiet.mean > 9.0);
    QVERIFY(std::abs(outputLoud.mean - outputQuiet.mean) < 3.0);
    QCOMPARE(QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
                     .value(SCSettings::RECORDING_MIC_GAIN)
                     .toInt(),
             25);

    // The chosen microphone unplugged while recording: the recording goes on to its end.
    auto *label = child<QLabel>("recordingLabel");
    QTimer::singleShot(1000, this, [this] { pactl({"unload-module", m_micModule}); });
    const QString unplugged = record(3000);
    QVERIFY(!unplugged.isEmpty());
    QVERIFY(MediaProbe(unplugged).formatDuration() > 2.5);
    QVERIFY(MediaProbe::decodes(unplugged));
    QCOMPARE(label->text(), "Start Recording");
}

int main(int argc, char **argv)
{
    TestHome home;
    g_home = &home;
    // Two monitors side by side on the one screen of the session, before Qt reads them.
    if (std::system("xrandr --setmonitor DP-1 1920/508x1080/286+0+0 screen && "
                    "xrandr --setmonitor DP-2 1920/508x1080/286+1920+0 none")
        != 0)
        qWarning("xrandr could not split the screen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestDevices test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-devices.moc"
