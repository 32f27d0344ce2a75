// The real program in the headless Wayland session: recordings and screenshots through the
// desktop's portals (the real frontend, the test backend's PipeWire streams and pictures),
// driven through the program's control interface as a script or a key binding would, and the
// files checked with ffprobe. The backend's log says what the program asked the desktop for.

#include "control-bus.h"
#include "desktop-input.h"
#include "desktop-program.h"
#include "lean-a-files.h"
#include "media-probe.h"
#include "sc-settings.h"

#include <QColor>
#include <QDBusInterface>
#include <QDBusReply>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString TEST_PORTAL = QStringLiteral("org.vistrel.TestPortal");
const QString TEST_PORTAL_PATH = QStringLiteral("/org/vistrel/TestPortal");

QDBusInterface testPortal()
{
    return QDBusInterface(TEST_PORTAL, TEST_PORTAL_PATH, TEST_PORTAL);
}

// The backend's calls of one method since the last reset, oldest first.
QList<QJsonObject> portalCalls(const QString &method)
{
    QDBusReply<QString> reply = testPortal().call(QStringLiteral("GetLog"));
    QList<QJsonObject> calls;
    for (const QJsonValue &entry : QJsonDocument::fromJson(reply.value().toUtf8()).array()) {
        if (entry[QStringLiteral("method")].toString() == method)
            calls << entry.toObject();
    }
    return calls;
}

// The output in device pixels, as the screen casts and screenshots have it.
QSize screenSize()
{
    const QStringList sides = qEnvironmentVariable("VISTREL_TEST_SCREEN", "1920x1080").split('x');
    return {sides.value(0).toInt(), sides.value(1).toInt()};
}

qreal outputScale()
{
    const qreal scale = qEnvironmentVariable("VISTREL_WAYLAND_SCALE", "1").toDouble();
    return scale > 0 ? scale : 1.0;
}

// The output as XWayland's windows measure it: about the device size over the scale, which
// XWayland rounds its own way.
QSize logicalSize()
{
    const QStringList sides = xdotoolOutput({"getdisplaygeometry"}).split(' ');
    return {sides.value(0).toInt(), sides.value(1).trimmed().toInt()};
}

bool near(QRgb pixel, QRgb expected)
{
    return qAbs(qRed(pixel) - qRed(expected)) < 40 && qAbs(qGreen(pixel) - qGreen(expected)) < 40
            && qAbs(qBlue(pixel) - qBlue(expected)) < 40;
}

// Which quadrant of the quadrants pattern (red, green / blue, white) a logical point lies in.
QRgb quadrantColour(const QPointF &logical)
{
    const QSize device = screenSize();
    const bool right = logical.x() * outputScale() >= device.width() / 2.0;
    const bool bottom = logical.y() * outputScale() >= device.height() / 2.0;
    return bottom ? (right ? qRgb(255, 255, 255) : qRgb(0, 0, 255))
                  : (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0));
}

// A picture of the logical `region`, sampled well inside each of its parts: the quadrant the
// place lies in is the colour it must have.
QString wrongColours(const QImage &picture, const QRectF &region)
{
    QStringList wrong;
    for (const qreal fx : {0.1, 0.5, 0.9}) {
        for (const qreal fy : {0.1, 0.5, 0.9}) {
            const QPointF place(region.x() + fx * region.width(),
                                region.y() + fy * region.height());
            const QSizeF mid = QSizeF(screenSize()) / (2 * outputScale());
            // Too near a border between quadrants to say.
            if (qAbs(place.x() - mid.width()) < 8 || qAbs(place.y() - mid.height()) < 8)
                continue;
            const QPoint pixel(int(fx * picture.width()), int(fy * picture.height()));
            const QRgb found = picture.pixel(pixel);
            if (!near(found, quadrantColour(place)))
                wrong << QString("%1,%2 (logical %3,%4): %5")
                                 .arg(pixel.x())
                                 .arg(pixel.y())
                                 .arg(place.x())
                                 .arg(place.y())
                                 .arg(QColor(found).name());
        }
    }
    return wrong.join("; ");
}

// A drag with the left button through XWayland, in steps as a hand moves.
bool dragOnScreen(const QPoint &from, const QPoint &to)
{
    QStringList words {"mousemove",
                       QString::number(from.x()),
                       QString::number(from.y()),
                       "sleep",
                       "0.1",
                       "mousedown",
                       "1"};
    for (int step = 1; step <= 8; ++step) {
        const QPoint at = from + (to - from) * step / 8;
        words << "sleep"
              << "0.03"
              << "mousemove" << QString::number(at.x()) << QString::number(at.y());
    }
    words << "sleep"
          << "0.1"
          << "mouseup"
          << "1";
    return xdotool(words);
}

// The geometry xdotool reports for a window: "Position: X,Y ..." and "Geometry: WxH".
QRect windowGeometry(const QString &window)
{
    const QString text = xdotoolOutput({"getwindowgeometry", window});
    static const QRegularExpression position("Position: (-?\\d+),(-?\\d+)");
    static const QRegularExpression size("Geometry: (\\d+)x(\\d+)");
    const auto at = position.match(text);
    const auto extent = size.match(text);
    if (!at.hasMatch() || !extent.hasMatch())
        return {};
    return QRect(at.captured(1).toInt(), at.captured(2).toInt(), extent.captured(1).toInt(),
                 extent.captured(2).toInt());
}

// Pixels of `picture` close to `colour`, in the band `inset` pixels wide along its edges, or
// everywhere when `inset` is 0.
int pixelsLike(const QImage &picture, QRgb colour, int inset = 0)
{
    int count = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const bool edge = x < inset || y < inset || x >= picture.width() - inset
                    || y >= picture.height() - inset;
            if ((inset == 0 || edge) && near(picture.pixel(x, y), colour))
                ++count;
        }
    }
    return count;
}

} // namespace

class TestWaylandProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void recordsTheSharedScreenAndAsksOnce();
    void cancelledOrRefusedSharingLeavesNothing_data();
    void cancelledOrRefusedSharingLeavesNothing();
    void sharingEndedByTheDesktopFinishesTheFile();
    void gifAndSoundFormats_data();
    void gifAndSoundFormats();
    void windowComesFromTheDesktopsChoice();
    void desktopShortcutsDriveTheRecording();
    void screenshotsComeFromTheDesktop();
    // Only with VISTREL_WAYLAND_PATTERN=quadrants: red, green / blue, white.
    void regionHasTheColoursOfItsPlace();
    // Also at an output scale: a region dragged on the desktop's still picture.
    void draggedRegionIsWhatWasChosen();
    // Only with VISTREL_WAYLAND_PATTERN=screen: the cast shows what the compositor shows.
    void penStrokesAreRecordedAndTheFrameIsNot();

private:
    void writeSettings(const QString &format);
    // StartRecording through the control interface: the file's path, or the error's text.
    QString startRecording(const QVariantMap &options, bool *ok);
    QString stopRecording();
    bool waitForState(const QString &state, int timeoutMs = 20000);
    int libraryEntries() const;
    // Waits until the area selector is up on its still picture, then drags across it.
    bool dragOnSelector(const QPoint &from, const QPoint &to);
    bool waitForFullScreenWindow();

    // The shortcuts as the program bound them at its start.
    QJsonArray m_boundShortcuts;

    QTemporaryDir m_home;
    QString m_config;
    QString m_data;
    QString m_videos;
    QProcess m_program;
};

void TestWaylandProgram::initTestCase()
{
    QVERIFY(m_home.isValid());
    m_config = m_home.filePath("config");
    m_data = m_home.filePath("data");
    m_videos = m_home.filePath("Videos/Vistrel");
    QVERIFY2(qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && qEnvironmentVariableIsSet("DISPLAY"),
             "runs in scripts/test-env.sh --wayland with VISTREL_WAYLAND_XWAYLAND=1");
    writeSettings("MP4");

    QVERIFY(DesktopProgram::start(m_program, VISTREL_EXECUTABLE, m_home.path()));
    const QString log = logsUnder(m_data);
    QVERIFY2(log.contains("Wayland session (XDG_SESSION_TYPE=wayland"), qPrintable(log));
    QVERIFY2(log.contains("windows on Qt's xcb platform"), qPrintable(log));
    // No permission review: the desktop's portal is there to share the screen.
    QVERIFY2(!log.contains("Showing the permission review"), qPrintable(log));
    // The hotkeys go to the desktop as the program starts, once.
    QTRY_VERIFY_WITH_TIMEOUT(!portalCalls("GlobalShortcuts.BindShortcuts").isEmpty(), 10000);
    const QList<QJsonObject> binds = portalCalls("GlobalShortcuts.BindShortcuts");
    QCOMPARE(binds.size(), 1);
    m_boundShortcuts = binds[0]["shortcuts"].toArray();
    QTRY_VERIFY_WITH_TIMEOUT(logsUnder(m_data).contains("Hotkeys bound by the desktop"), 5000);
}

void TestWaylandProgram::init()
{
    QVERIFY(testPortal().call(QStringLiteral("Reset")).type() != QDBusMessage::ErrorMessage);
    QDir(m_videos).removeRecursively();
}

void TestWaylandProgram::cleanupTestCase()
{
    DesktopProgram::stop(m_program);
}

void TestWaylandProgram::writeSettings(const QString &format)
{
    QSettings settings(m_config + "/" + SCSettings::ORGANIZATION + "/" + SCSettings::APPLICATION
                               + ".conf",
                       QSettings::IniFormat);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::MOUSE_SHOW_CURSOR, true);
    settings.setValue(SCSettings::RECORDING_FORMAT, format);
}

QString TestWaylandProgram::startRecording(const QVariantMap &options, bool *ok)
{
    QVariantMap all = options;
    all.insert("countdown", false);
    QDBusInterface control(ControlBus::SERVICE, ControlBus::PATH, ControlBus::INTERFACE);
    control.setTimeout(60000);
    QDBusReply<QString> reply = control.call("StartRecording", all);
    *ok = reply.isValid();
    return reply.isValid() ? reply.value() : reply.error().message();
}

QString TestWaylandProgram::stopRecording()
{
    QDBusInterface control(ControlBus::SERVICE, ControlBus::PATH, ControlBus::INTERFACE);
    control.setTimeout(60000);
    QDBusReply<QString> reply = control.call("StopRecording");
    return reply.isValid() ? reply.value() : QString();
}

bool TestWaylandProgram::waitForState(const QString &state, int timeoutMs)
{
    return QTest::qWaitFor([&] { return ControlBus::state() == state; }, timeoutMs);
}

int TestWaylandProgram::libraryEntries() const
{
    return QJsonDocument::fromJson(readAll(m_data + "/" + SCSettings::ORGANIZATION + "/"
                                           + SCSettings::APPLICATION + "/file_data.json"))
            .array()
            .size();
}

// Full screen, then a region of it: the first recording shows the desktop's dialog and keeps
// the permission it gives, the second passes it back and sees no dialog.
void TestWaylandProgram::recordsTheSharedScreenAndAsksOnce()
{
    bool ok = false;
    const QString file = startRecording({}, &ok);
    QVERIFY2(ok, qPrintable(file));
    QTest::qWait(3000);
    QCOMPARE(stopRecording(), file);
    QVERIFY(waitForState("idle"));

    QList<QJsonObject> starts = portalCalls("ScreenCast.Start");
    QCOMPARE(starts.size(), 1);
    QCOMPARE(starts[0]["dialog"].toBool(), true);
    QCOMPARE(starts[0]["cursor_mode"].toInt(), 2); // drawn into the stream
    QCOMPARE(starts[0]["persist_mode"].toInt(), 2);
    const QString issued = starts[0]["restore_data_issued"].toString();
    QVERIFY(!issued.isEmpty());
    // The sharing ends with the recording: the desktop's indicator goes away.
    QTRY_VERIFY_WITH_TIMEOUT(!portalCalls("Session.Close").isEmpty(), 5000);

    const QSize screen = screenSize();
    MediaProbe probe(file);
    QCOMPARE(probe.streamSummary(),
             QString("video,%1,%2\naudio").arg(screen.width()).arg(screen.height()));
    const std::optional<long> frames = MediaProbe::frameCount(file);
    const std::optional<long> distinct = MediaProbe::distinctFrameCount(file);
    QVERIFY(frames && distinct);
    // 30 a second for about 3 s; the ball moves in every picture of the stream.
    QVERIFY2(*frames >= 75 && *frames <= 105, qPrintable(QString::number(*frames)));
    QVERIFY2(*distinct >= *frames - 2, qPrintable(QString("%1 of %2").arg(*distinct).arg(*frames)));

    // A region, measured in the screen's pixels.
    const QString region = startRecording({{"region", "200,100,640x360"}}, &ok);
    QVERIFY2(ok, qPrintable(region));
    QTest::qWait(1500);
    QCOMPARE(stopRecording(), region);
    QVERIFY(waitForState("idle"));
    starts = portalCalls("ScreenCast.Start");
    QCOMPARE(starts.size(), 2);
    QCOMPARE(starts[1]["dialog"].toBool(), false);
    QCOMPARE(starts[1]["restored_from"].toString(), issued);
    QCOMPARE(MediaProbe(region).streamSummary(), QString("video,640,360\naudio"));
}

void TestWaylandProgram::cancelledOrRefusedSharingLeavesNothing_data()
{
    QTest::addColumn<int>("response");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancelled") << 1 << "Recording cancelled: the screen was not shared.";
    QTest::newRow("refused") << 2 << "The desktop did not share the screen.";
}

void TestWaylandProgram::cancelledOrRefusedSharingLeavesNothing()
{
    QFETCH(int, response);
    QFETCH(QString, message);
    const int entries = libraryEntries();
    testPortal().call("SetNextResponse", "Start", uint(response));
    bool ok = true;
    const QString error = startRecording({}, &ok);
    QVERIFY(!ok);
    QVERIFY2(error.startsWith(message), qPrintable(error));
    QCOMPARE(ControlBus::state(), QString("idle"));
    QCOMPARE(libraryEntries(), entries);
    QVERIFY(QDir(m_videos).entryList(QDir::Files).isEmpty());
    // A refusal is told in a window, which is closed for the next case.
    if (response == 2) {
        const QString box
                = xdotoolOutput({"search", "--sync", "--onlyvisible", "--name", "Recording Error"});
        QVERIFY2(!box.isEmpty(), "the refusal was not shown");
        xdotool({"windowactivate", "--sync", box.section('\n', 0, 0), "key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(
                xdotoolOutput({"search", "--onlyvisible", "--name", "Recording Error"}).isEmpty(),
                5000);
    }
}

// The desktop stops the sharing two seconds in: the recording ends as if stopped, and the
// file holds those two seconds.
void TestWaylandProgram::sharingEndedByTheDesktopFinishesTheFile()
{
    testPortal().call("EndStreamAfter", 2.0);
    bool ok = false;
    const QString file = startRecording({}, &ok);
    QVERIFY2(ok, qPrintable(file));
    QVERIFY2(waitForState("idle", 15000), "the recording did not end with the sharing");
    QVERIFY(logsUnder(m_data).contains("The shared screen ended: stopping the recording"));
    QVERIFY(MediaProbe::decodes(file));
    const double duration = MediaProbe::decodedDuration(file);
    QVERIFY2(duration > 1.0 && duration < 4.0, qPrintable(QString::number(duration)));
}

void TestWaylandProgram::gifAndSoundFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("streams");
    QTest::addColumn<bool>("shares");
    const QSize screen = screenSize();
    QTest::newRow("GIF") << "GIF" << QString("video,%1,%2").arg(screen.width()).arg(screen.height())
                         << true;
    QTest::newRow("MP3") << "MP3"
                         << "audio" << false;
}

void TestWaylandProgram::gifAndSoundFormats()
{
    QFETCH(QString, format);
    QFETCH(QString, streams);
    QFETCH(bool, shares);
    bool ok = false;
    const QString file = startRecording({{"format", format}, {"area", "full"}}, &ok);
    QVERIFY2(ok, qPrintable(file));
    QTest::qWait(2000);
    QCOMPARE(stopRecording(), file);
    QVERIFY(waitForState("idle", 30000));
    QCOMPARE(MediaProbe(file).streamSummary(), streams);
    // Sound alone needs nothing of the desktop.
    QCOMPARE(portalCalls("ScreenCast.Start").size(), shares ? 1 : 0);
}

// The window is chosen in the desktop's dialog, not in a picker of the program's, and its whole
// picture is the file's.
void TestWaylandProgram::windowComesFromTheDesktopsChoice()
{
    bool ok = false;
    const QString file = startRecording({{"area", "window"}, {"format", "MP4"}}, &ok);
    QVERIFY2(ok, qPrintable(file));
    QTest::qWait(1500);
    QCOMPARE(stopRecording(), file);
    QVERIFY(waitForState("idle"));
    const QList<QJsonObject> selections = portalCalls("ScreenCast.SelectSources");
    QCOMPARE(selections.size(), 1);
    QCOMPARE(selections[0]["types"].toInt(), 2);
    // The screen's permission is the screen's: a window is asked for afresh.
    QCOMPARE(portalCalls("ScreenCast.Start").value(0)["dialog"].toBool(), true);
    const QSize screen = screenSize();
    QCOMPARE(MediaProbe(file).streamSummary(),
             QString("video,%1,%2\naudio").arg(screen.width()).arg(screen.height()));
}

// The desktop's screenshot portal gives the picture; a refusal saves nothing and says so.
void TestWaylandProgram::screenshotsComeFromTheDesktop()
{
    QDBusInterface control(ControlBus::SERVICE, ControlBus::PATH, ControlBus::INTERFACE);
    control.setTimeout(60000);
    const QString path = m_home.filePath("full.png");
    const QDBusReply<QString> taken
            = control.call("TakeScreenshot", "full", QVariantMap {{"path", path}});
    QVERIFY2(taken.isValid(), qPrintable(taken.error().message()));
    QCOMPARE(QImage(path).size(), screenSize());
    const QList<QJsonObject> calls = portalCalls("Screenshot.Screenshot");
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0]["options"]["interactive"].toBool(), false);

    testPortal().call("SetNextResponse", "Screenshot", uint(2));
    const QString refusedPath = m_home.filePath("refused.png");
    QDBusPendingCall refused
            = control.asyncCall("TakeScreenshot", "full", QVariantMap {{"path", refusedPath}});
    // The reason is shown in a window, which holds the answer until it is closed.
    const QString box
            = xdotoolOutput({"search", "--sync", "--onlyvisible", "--name", "Screenshot Error"});
    QVERIFY2(!box.isEmpty(), "the refused screenshot was not told");
    xdotool({"windowactivate", "--sync", box.section('\n', 0, 0), "key", "Return"});
    refused.waitForFinished();
    QVERIFY(refused.isError());
    QVERIFY(!QFile::exists(refusedPath));
}

void TestWaylandProgram::regionHasTheColoursOfItsPlace()
{
    if (qEnvironmentVariable("VISTREL_WAYLAND_PATTERN") != QLatin1String("quadrants"))
        QSKIP("needs the quadrants pattern");
    // Across the middle of the screen: a quarter of each quadrant.
    const QSize screen = screenSize();
    const QRect region(screen.width() / 2 - 200, screen.height() / 2 - 100, 400, 200);
    bool ok = false;
    const QString file = startRecording(
            {{"format", "MP4"}, {"region", DesktopProgram::regionText(region)}}, &ok);
    QVERIFY2(ok, qPrintable(file));
    QTest::qWait(1500);
    QCOMPARE(stopRecording(), file);
    QVERIFY(waitForState("idle"));
    QCOMPARE(MediaProbe(file).streamSummary(), QString("video,400,200\naudio"));
    const QImage picture = MediaProbe::frame(file, m_home.filePath("region.png"), true);
    QCOMPARE(picture.size(), QSize(400, 200));
    const struct
    {
        QPoint at;
        QRgb colour;
    } quarters[] = {{{100, 50}, qRgb(255, 0, 0)},
                    {{300, 50}, qRgb(0, 255, 0)},
                    {{100, 150}, qRgb(0, 0, 255)},
                    {{300, 150}, qRgb(255, 255, 255)}};
    for (const auto &quarter : quarters) {
        const QRgb pixel = picture.pixel(quarter.at);
        QVERIFY2(near(pixel, quarter.colour),
                 qPrintable(QString("at %1,%2: %3")
                                    .arg(quarter.at.x())
                                    .arg(quarter.at.y())
                                    .arg(QColor(pixel).name())));
    }
}

// The desktop's shortcut portal: the program's four actions with the keys of the preferences,
// and the desktop pressing the recording's key starts and then stops a recording.
void TestWaylandProgram::desktopShortcutsDriveTheRecording()
{
    QMap<QString, QString> triggers;
    for (const QJsonValue &entry : std::as_const(m_boundShortcuts)) {
        const QJsonArray pair = entry.toArray();
        triggers.insert(pair[0].toString(), pair[1]["preferred_trigger"].toString());
        QVERIFY2(!pair[1]["description"].toString().isEmpty(), qPrintable(pair[0].toString()));
    }
    const QMap<QString, QString> expected {{"toggle-recording", "F9"},
                                           {"toggle-pause", "F8"},
                                           {"screenshot-region", "F10"},
                                           {"screenshot-full", "SHIFT+F10"}};
    QCOMPARE(triggers, expected);

    QDBusReply<uint> pressed = testPortal().call("ActivateShortcut", "toggle-recording");
    QCOMPARE(pressed.value(), 1u);
    QVERIFY2(waitForState("recording"), "the desktop's shortcut did not start a recording");
    QTest::qWait(2000);
    pressed = testPortal().call("ActivateShortcut", "toggle-recording");
    QCOMPARE(pressed.value(), 1u);
    QVERIFY2(waitForState("idle"), "the desktop's shortcut did not stop the recording");
    QStringList files;
    QTRY_VERIFY_WITH_TIMEOUT(!(files = QDir(m_videos).entryList({"*.mp4"}, QDir::Files)).isEmpty(),
                             10000);
    QCOMPARE(files.size(), 1);
    const QString file = QDir(m_videos).filePath(files.first());
    QVERIFY(MediaProbe::decodes(file));
    const double duration = MediaProbe::decodedDuration(file);
    QVERIFY2(duration > 1.0 && duration < 5.0, qPrintable(QString::number(duration)));
    QVERIFY(logsUnder(m_data).contains("Desktop shortcut toggle-recording"));
}

bool TestWaylandProgram::dragOnSelector(const QPoint &from, const QPoint &to)
{
    return waitForFullScreenWindow() && dragOnScreen(from, to);
}

bool TestWaylandProgram::waitForFullScreenWindow()
{
    // The selector and the annotation window cover the whole X screen.
    const QSize screen = logicalSize();
    const bool up = QTest::qWaitFor(
            [&] {
                const QStringList found
                        = xdotoolOutput({"search", "--onlyvisible", "--class", "vistrel"})
                                  .split('\n', Qt::SkipEmptyParts);
                for (const QString &window : found) {
                    const QString geometry = xdotoolOutput({"getwindowgeometry", window});
                    if (geometry.contains(QString("Geometry: %1x%2")
                                                  .arg(screen.width())
                                                  .arg(screen.height())))
                        return true;
                }
                return false;
            },
            15000);
    // Mapped is not yet drawn and holding the keyboard.
    QTest::qWait(300);
    return up;
}

// A drag from (100,100) to (740,460) in XWayland's logical pixels is a 640 x 360 region; on
// an output of scale 2 the recording and the screenshot hold its 1280 x 720 device pixels, and
// the colours of that place of the desktop's picture.
void TestWaylandProgram::draggedRegionIsWhatWasChosen()
{
    if (qEnvironmentVariable("VISTREL_WAYLAND_PATTERN") != QLatin1String("quadrants"))
        QSKIP("needs the quadrants pattern");
    const QPoint from(100, 100);
    const QPoint to(740, 460);
    const QRectF region(from, to);
    const QSize device(qRound(640 * outputScale()), qRound(360 * outputScale()));

    QDBusInterface control(ControlBus::SERVICE, ControlBus::PATH, ControlBus::INTERFACE);
    control.setTimeout(60000);
    QDBusPendingCall started = control.asyncCall(
            "StartRecording", QVariantMap {{"area", "region"}, {"countdown", false}});
    QVERIFY2(dragOnSelector(from, to), "the area selector did not come up");
    started.waitForFinished();
    QDBusPendingReply<QString> startReply = started;
    QVERIFY2(!startReply.isError(), qPrintable(startReply.error().message()));
    const QString file = startReply.value();
    QVERIFY(waitForState("recording"));
    QTest::qWait(1500);
    QCOMPARE(stopRecording(), file);
    QVERIFY(waitForState("idle"));
    QCOMPARE(MediaProbe(file).streamSummary(),
             QString("video,%1,%2\naudio").arg(device.width()).arg(device.height()));
    const QImage recorded = MediaProbe::frame(file, m_home.filePath("dragged.png"), true);
    QCOMPARE(recorded.size(), device);
    QString wrong = wrongColours(recorded, region);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    // The selector showed the desktop's picture: one screenshot, before the recording.
    QCOMPARE(portalCalls("Screenshot.Screenshot").size(), 1);

    // The same drag for a screenshot: cut from the picture it was chosen on, not a second one.
    testPortal().call("Reset");
    const QString path = m_home.filePath("dragged-shot.png");
    QDBusPendingCall shot
            = control.asyncCall("TakeScreenshot", "region", QVariantMap {{"path", path}});
    QVERIFY2(dragOnSelector(from, to), "the area selector did not come up");
    shot.waitForFinished();
    QVERIFY2(!shot.isError(), qPrintable(QDBusPendingReply<QString>(shot).error().message()));
    const QImage picture(path);
    QCOMPARE(picture.size(), device);
    wrong = wrongColours(picture, region);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(portalCalls("Screenshot.Screenshot").size(), 1);

    // Without a file named, the annotation window opens on that picture: a red rectangle
    // drawn there is in the saved screenshot, over the quadrants of other colours.
    testPortal().call("Reset");
    QDBusPendingCall annotated = control.asyncCall("TakeScreenshot", "region", QVariantMap());
    QVERIFY2(waitForFullScreenWindow(), "the area selector did not come up");
    const QStringList before = xdotoolOutput({"search", "--onlyvisible", "--class", "vistrel"})
                                       .split('\n', Qt::SkipEmptyParts);
    QVERIFY(dragOnScreen(from, to));
    // It opens over the chosen place: a window of the program's that was not there before.
    const auto windows = [] {
        return xdotoolOutput({"search", "--onlyvisible", "--class", "vistrel"})
                .split('\n', Qt::SkipEmptyParts);
    };
    QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QString &window : windows()) {
                    if (!before.contains(window)
                        && windowGeometry(window).contains(region.toRect()))
                        return true;
                }
                return false;
            }(),
            15000);
    QTest::qWait(300);
    QVERIFY(xdotool({"key", "r"}));
    QVERIFY(dragOnScreen(from + QPoint(100, 60), to - QPoint(100, 60)));
    QVERIFY(xdotool({"key", "ctrl+s"}));
    annotated.waitForFinished();
    const QDBusPendingReply<QString> saved = annotated;
    QVERIFY2(!saved.isError(), qPrintable(saved.error().message()));
    const QImage marked(saved.value());
    QCOMPARE(marked.size(), device);
    int redElsewhere = 0;
    for (int y = 0; y < marked.height(); ++y) {
        for (int x = 0; x < marked.width(); ++x) {
            const QPointF place = region.topLeft()
                    + QPointF(x * region.width() / marked.width(),
                              y * region.height() / marked.height());
            if (near(marked.pixel(x, y), qRgb(255, 0, 0))
                && quadrantColour(place) != qRgb(255, 0, 0))
                ++redElsewhere;
        }
    }
    QVERIFY2(redElsewhere > 100, qPrintable(QString("%1 red pixels").arg(redElsewhere)));
    QCOMPARE(portalCalls("Screenshot.Screenshot").size(), 1);
}

// The cast is the compositor's own picture here, as on a real desktop: the frame around the
// region and its button bar lie outside what is recorded, strokes of the pen are in the file,
// and with the pen off a click inside the frame reaches the window below.
void TestWaylandProgram::penStrokesAreRecordedAndTheFrameIsNot()
{
    if (qEnvironmentVariable("VISTREL_WAYLAND_PATTERN") != QLatin1String("screen"))
        QSKIP("needs the compositor's picture as the cast");
    // A window of another program below the region, telling each click it gets.
    QProcess below;
    const QString clicksLog = m_home.filePath("clicks-below.log");
    below.setStandardOutputFile(clicksLog);
    const auto clicks = [&] { return QString(readAll(clicksLog)).count("ButtonPress"); };
    // Line by line: xev writes to a pipe in blocks otherwise.
    below.start("stdbuf", {"-oL", "xev", "-name", "clicks-below", "-event", "button"});
    QVERIFY(below.waitForStarted());
    QString belowId;
    QTRY_VERIFY_WITH_TIMEOUT(!(belowId = xdotoolOutput({"search", "--sync", "--onlyvisible",
                                                        "--name", "clicks-below"})
                                                 .section('\n', 0, 0))
                                      .isEmpty(),
                             10000);
    // The compositor tiles it beside the program's window: its place once it stays there.
    QRect under;
    QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QRect before = windowGeometry(belowId);
                QTest::qWait(500);
                under = windowGeometry(belowId);
                return under.isValid() && under == before;
            }(),
            10000);
    QVERIFY2(under.width() >= 500 && under.height() >= 400,
             qPrintable(QString("%1x%2").arg(under.width()).arg(under.height())));
    const QRect region(under.x() + 60, under.y() + 80, 400, 240);
    // It takes clicks: one below where the frame goes, which also gives it the focus.
    const QPoint free(under.center().x(), under.bottom() - 40);
    QVERIFY(xdotool(
            {"mousemove", QString::number(free.x()), QString::number(free.y()), "click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(clicks(), 1, 5000);

    bool ok = false;
    const QString file = startRecording({{"region", DesktopProgram::regionText(region)}}, &ok);
    QVERIFY2(ok, qPrintable(file));
    // The frame's button bar: the window of the program 30 pixels high, the pen first in it.
    QRect bar;
    QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QString &window :
                     xdotoolOutput({"search", "--onlyvisible", "--class", "vistrel"})
                             .split('\n', Qt::SkipEmptyParts)) {
                    const QRect geometry = windowGeometry(window);
                    if (geometry.height() == 30)
                        bar = geometry;
                }
                return bar.isValid();
            }(),
            10000);
    QVERIFY2(!region.intersects(bar), "the button bar lies over the recorded region");

    // Pen off: the click goes through the frame to the window below.
    const QPoint inside = region.center();
    QVERIFY(xdotool(
            {"mousemove", QString::number(inside.x()), QString::number(inside.y()), "click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(clicks(), 2, 5000);

    // Pen on: a stroke across the region is drawn, and the window below gets nothing.
    QVERIFY(xdotool({"mousemove", QString::number(bar.x() + 15), QString::number(bar.y() + 15),
                     "click", "1"}));
    QTest::qWait(300);
    QVERIFY(dragOnScreen(region.topLeft() + QPoint(60, 60), region.topLeft() + QPoint(340, 180)));
    QTest::qWait(1500);
    QCOMPARE(stopRecording(), file);
    QVERIFY(waitForState("idle"));
    QVERIFY2(clicks() == 2, "the pen's stroke reached the window below");
    below.kill();
    below.waitForFinished();

    QCOMPARE(MediaProbe(file).streamSummary(),
             QString("video,%1,%2\naudio").arg(region.width()).arg(region.height()));
    const QImage last = MediaProbe::frame(file, m_home.filePath("pen.png"), true);
    QCOMPARE(last.size(), region.size());
    // A 2-pixel red line about 300 pixels long, softened by the encoder; none before the pen.
    const int red = pixelsLike(last, qRgb(255, 0, 0));
    QVERIFY2(red >= 60, qPrintable(QString("%1 red pixels of the stroke").arg(red)));
    const QImage first = MediaProbe::frame(file, m_home.filePath("before-pen.png"));
    QCOMPARE(pixelsLike(first, qRgb(255, 0, 0)), 0);
    const int frameBlue = pixelsLike(last, qRgb(0, 122, 204), 6);
    QVERIFY2(frameBlue == 0, qPrintable(QString("%1 pixels of the frame's blue").arg(frameBlue)));
}

QTEST_GUILESS_MAIN(TestWaylandProgram)
#include "test-wayland-program.moc"
