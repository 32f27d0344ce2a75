// Drives the real main window on the test desktop: the engine records real files, which
// FFmpeg then reads. Settings, logs and recordings live in a private home. What is recorded is
// what the frame shows: a region dragged and resized while it is recorded, the recording after
// it, a picked window that moves and closes, a closed frame, and the controls that stop each
// kind of recording.

#include "desktop-input.h"
#include "media-probe.h"
#include "message-box-catcher.h"
#include "pattern-widget.h"
#include "sc-countdown-widget.h"
#include "sc-draw-window.h"
#include "sc-fullscreen-toolbar.h"
#include "sc-main-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "test-home.h"
#include "url-catcher.h"
#include "widget-lookup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QtTest>

namespace {

TestHome *g_home = nullptr;

const QColor LEFT(220, 30, 30);
const QColor RIGHT(30, 60, 220);
const QColor FRAME_BLUE(0, 122, 204);

// The desktop behind everything: red on the left half, blue on the right.
QColor halves(int x, int)
{
    return x < QGuiApplication::primaryScreen()->size().width() / 2 ? LEFT : RIGHT;
}

QSize videoSize(const QString &file)
{
    const QJsonObject video = MediaProbe(file).stream("video");
    return {video["width"].toInt(), video["height"].toInt()};
}

// One decoded picture: the first (`fromEnd` false) or one near the end.
QImage frameOf(const QString &file, bool fromEnd)
{
    const QString png = QFileInfo(file).absolutePath() + "/frame.png";
    QFile::remove(png);
    return MediaProbe::frame(file, png, fromEnd).convertToFormat(QImage::Format_RGB32);
}

bool near(const QColor &a, const QColor &b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
            && std::abs(a.blue() - b.blue()) <= tolerance;
}

// Whether a picture shows about `colour` at `point`; says what it shows when not.
bool shows(const QImage &image, const QPoint &point, const QColor &colour, int tolerance = 40)
{
    if (near(image.pixelColor(point), colour, tolerance))
        return true;
    qWarning("%d,%d shows %s", point.x(), point.y(), qPrintable(image.pixelColor(point).name()));
    return false;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void recordsFromTheRecordTileToTheLibrary();
    void unwritableSaveFolderStopsBeforeTheCountdown();
    void audioFormatTurnsTheScreenOff();
    // the free region first: a preset locks the proportions
    void regionFollowsItsFrameWhileRecorded();
    void nextRecordingHasTheFramesSize();
    void closedFrameStaysClosed();
    void pickedWindowIsFollowedUntilItCloses();
    void everyRecordingHasAStopOnTheScreen();
    void presetAndSizeEditsDriveTheFrame();
    void hotkeyCancelsTheCountdown();
    void lowDiskSpaceAsksAndStopsCleanly();
    void laterStartsDoNotOpenTheThankYouPage();

private:
    template<typename T> T *child(const char *name) { return childOf<T>(m_window.get(), name); }
    void release(const char *tileName);
    bool startRecording();
    // Stops, and returns the file the Files page then shows, back on the recording page.
    QString stopRecording();
    QString record(int milliseconds);
    QString newestFile();
    void selectRegion(const QPoint &from, const QPoint &to);

    std::unique_ptr<PatternWidget> m_halves;
    std::unique_ptr<SCMainWindow> m_window;
    MessageBoxCatcher *m_boxes = nullptr;
    UrlCatcher m_urls;
    QString m_videos;
};

void TestMainWindow::initTestCase()
{
    m_videos = g_home->filePath("Videos/Vistrel");
    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::RECORDING_FORMAT, "GIF");
        settings.setValue(SCSettings::HOTKEYS_RECORDING, "F9");
        settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, "None");
        // the pointer would be drawn into the colours the checks look at
        settings.setValue(SCSettings::MOUSE_SWITCH, false);
        settings.setValue(SCSettings::MOUSE_SHOW_CURSOR, false);
    }
    // Messages are kept and answered, so that no run waits on one.
    m_boxes = new MessageBoxCatcher(this);
    m_halves = std::make_unique<PatternWidget>(halves);
    m_halves->setGeometry(QGuiApplication::primaryScreen()->geometry());
    m_halves->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_halves.get()));
    // The first start: the stored choices above are kept, the missing ones get defaults and
    // the thank-you page opens once.
    m_window = std::make_unique<SCMainWindow>();
    QCOMPARE(m_urls.urls.size(), 1);
    QCOMPARE(m_urls.urls[0].scheme(), QString("https"));
    QSettings written(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(written.value(SCSettings::GENERAL_FIRST_RUN).toBool(), false);
    QCOMPARE(written.value(SCSettings::RECORDING_FORMAT).toString(), QString("GIF"));
    QCOMPARE(written.value(SCSettings::RECORDING_SAVE_LOCATION).toString(), m_videos);
    auto translator = std::make_shared<SCTranslator>();
    QVERIFY(translator->load("en_US"));
    QCoreApplication::installTranslator(translator.get());
    m_window->setTranslator(translator);
    // The countdown case alone waits out a real countdown.
    m_window->setCountdownSeconds(0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->initObsRecording();
    // The window goes to the bottom-right corner, out of the regions the checks record.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    m_window->move(screen.right() - m_window->width() - 20, screen.bottom() - m_window->height());
    // A stored GIF is selected, not replaced by the default.
    QCOMPARE(child<QComboBox>("recordFormatComboBox")->currentIndex(), 3);
    QCOMPARE(child<QLineEdit>("saveLocationLineEdit")->text(), m_videos);
    QCOMPARE(child<QLineEdit>("widthLineEdit")->text().toInt(), screen.width());
    QCOMPARE(child<QLineEdit>("heightLineEdit")->text().toInt(), screen.height());
}

void TestMainWindow::release(const char *tileName)
{
    QWidget *tile = child<QWidget>(tileName);
    QTest::mouseRelease(tile, Qt::LeftButton, {}, tile->rect().center());
}

bool TestMainWindow::startRecording()
{
    auto *label = child<QLabel>("recordingLabel");
    // The start waits in the countdown's loop: let it run from the event loop.
    QTimer::singleShot(0, this, [this] { release("recordingControlWidget"); });
    return QTest::qWaitFor([&] { return label->text() == "Stop Recording"; }, 20000);
}

QString TestMainWindow::stopRecording()
{
    auto *label = child<QLabel>("recordingLabel");
    auto *pages = child<QStackedWidget>("mainFunctionPages");
    release("recordingControlWidget");
    if (!QTest::qWaitFor(
                [&] { return label->text() == "Start Recording" && pages->currentIndex() == 1; },
                20000))
        return {};
    QTest::qWait(100);
    const QString file = newestFile();
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    return file;
}

QString TestMainWindow::record(int milliseconds)
{
    if (!startRecording())
        return {};
    QTest::qWait(milliseconds);
    return stopRecording();
}

// The row the Files page selects after a recording, or its first.
QString TestMainWindow::newestFile()
{
    auto *list = child<QListView>("fileListView");
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    return (selected.isEmpty() ? list->model()->index(0, 0) : selected.first())
            .data(Qt::UserRole + 1)
            .toString();
}

void TestMainWindow::selectRegion(const QPoint &from, const QPoint &to)
{
    release("selectRegionWidget");
    QTest::qWait(500);
    QVERIFY(dragPointer(from, to));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<DrawWindow>(), 5000);
}

// The name is trimmed, and a file of that name already there is never overwritten.
void TestMainWindow::recordsFromTheRecordTileToTheLibrary()
{
    QVERIFY(QDir().mkpath(m_videos));
    QFile existing(m_videos + "/demo.mp4");
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("precious");
    existing.close();
    child<QComboBox>("recordFormatComboBox")->setCurrentIndex(0);
    child<QLineEdit>("filenameEdit")->setText("  demo  ");
    const QString file = record(2000);
    QCOMPARE(file, m_videos + "/demo (2).mp4");
    QVERIFY(child<QPushButton>("videoTab")->isChecked());
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("precious"));

    const MediaProbe info(file);
    QVERIFY2(info.ok(), qPrintable(file));
    QCOMPARE(info.codecs(), QStringList({"h264", "aac"}));
    QCOMPARE(info.stream("video")["width"].toInt(),
             QGuiApplication::primaryScreen()->size().width());
    QVERIFY(info.formatDuration() > 1.0);
}

void TestMainWindow::unwritableSaveFolderStopsBeforeTheCountdown()
{
    auto *location = child<QLineEdit>("saveLocationLineEdit");
    const QString saved = location->text();
    // A folder below a plain file can never be created, whoever runs the test.
    QFile blocker(g_home->filePath("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    location->setText(g_home->filePath("blocker/videos"));

    m_boxes->texts.clear();
    release("recordingControlWidget");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->texts.size(), 1, 10000);
    QVERIFY2(m_boxes->texts[0].contains("cannot be created"), qPrintable(m_boxes->texts[0]));
    QCOMPARE(child<QLabel>("recordingLabel")->text(), QString("Start Recording"));
    QVERIFY(!m_window->isMinimized());
    location->setText(saved);
}

void TestMainWindow::audioFormatTurnsTheScreenOff()
{
    auto *format = child<QComboBox>("recordFormatComboBox");
    format->setCurrentIndex(4);
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QString("MP3"));
    QCOMPARE(settings.value(SCSettings::RECORDING_SCREEN_SWITCH).toBool(), false);

    // A mode tile brings the screen back, and with it a video format.
    release("fullScreenWidget");
    QCOMPARE(format->currentIndex(), 0);
    QSettings after(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(after.value(SCSettings::RECORDING_FORMAT).toString(), QString("MP4"));
    QCOMPARE(after.value(SCSettings::RECORDING_SCREEN_SWITCH).toBool(), true);
    // The video formats after the sound ones keep the screen.
    format->setCurrentIndex(int(OutputFormat::WEBM));
    QCOMPARE(format->currentText(), QString("WebM"));
    QSettings webm(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(webm.value(SCSettings::RECORDING_SCREEN_SWITCH).toBool(), true);
    QCOMPARE(webm.value(SCSettings::RECORDING_FORMAT).toString(), QString("WEBM"));
    format->setCurrentIndex(0);
}

void TestMainWindow::presetAndSizeEditsDriveTheFrame()
{
    auto *width = child<QLineEdit>("widthLineEdit");
    auto *height = child<QLineEdit>("heightLineEdit");
    child<QComboBox>("ratioComboBox")->setCurrentText("9:16");
    QCOMPARE(width->text(), QString("608"));
    QCOMPARE(height->text(), QString("1080"));
    DrawWindow *frame = visibleTopLevel<DrawWindow>();
    QVERIFY(frame);
    const int b = frame->borderWidth();
    // Centred on the 1920 x 1080 screen; the frame is taller than the screen, so it starts
    // above it, and the WM may not pull it down.
    QTRY_COMPARE_WITH_TIMEOUT(frame->geometry(), QRect(652, -4, 608 + 2 * b, 1080 + 2 * b), 5000);

    // An exact width resizes the frame; the edit keeps what was typed.
    width->selectAll();
    QTest::keyClicks(width, "800");
    QTRY_COMPARE_WITH_TIMEOUT(frame->width(), 800 + 2 * b, 5000);
    QCOMPARE(width->text(), QString("800"));
    // A minus sign cannot be typed, and a size that is no number is never handed on.
    QTest::keyClicks(height, "-");
    QCOMPARE(height->text(), QString("1080"));

    child<QComboBox>("ratioComboBox")->setCurrentText("1:1");
    QCOMPARE(width->text(), QString("1080"));
    child<QLineEdit>("filenameEdit")->setText("square");
    height->setText("-40");
    const QString file = record(1000);
    QCOMPARE(file, m_videos + "/square.mp4");
    const QJsonObject video = MediaProbe(file).stream("video");
    QCOMPARE(video["width"].toInt(), 1080);
    QCOMPARE(video["height"].toInt(), 1080);
    release("fullScreenWidget");
    QTRY_VERIFY_WITH_TIMEOUT(!frame->isVisible(), 5000);
}

void TestMainWindow::hotkeyCancelsTheCountdown()
{
    auto *list = child<QListView>("fileListView");
    const int filesBefore = list->model()->rowCount();
    // The countdown runs its own loop: look and press the real key from inside it.
    bool sawCountdown = false;
    bool pressed = false;
    m_window->setCountdownSeconds(3);
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(0, this, [this] { release("recordingControlWidget"); });
    QTimer::singleShot(1200, this, [&] {
        sawCountdown = visibleTopLevel<SCCountdownWidget>() != nullptr;
        QProcess::execute("xdotool", {"key", "F9"});
        pressed = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(pressed, 10000);
    QVERIFY(sawCountdown);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleTopLevel<SCCountdownWidget>(), 5000);
    // Past the end of the countdown nothing has started.
    QTest::qWait(std::max<qint64>(0, 3600 - clock.elapsed()));
    m_window->setCountdownSeconds(0);
    QCOMPARE(child<QLabel>("recordingLabel")->text(), QString("Start Recording"));
    QVERIFY(!m_window->isMinimized());
    QCOMPARE(list->model()->rowCount(), filesBefore);
}

void TestMainWindow::lowDiskSpaceAsksAndStopsCleanly()
{
    qint64 freeBytes = 200LL * 1024 * 1024;
    m_window->setFreeSpaceProbe([&freeBytes](const QString &) { return freeBytes; });
    auto *label = child<QLabel>("recordingLabel");
    child<QLineEdit>("filenameEdit")->setText("full");

    // Declined: nothing starts.
    m_boxes->texts.clear();
    m_boxes->answer = "Cancel";
    release("recordingControlWidget");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->texts.size(), 1, 5000);
    QVERIFY2(m_boxes->texts[0].contains("Only 200 MB"), qPrintable(m_boxes->texts[0]));
    QCOMPARE(label->text(), QString("Start Recording"));

    // Accepted: it records until the disk runs low, then stops by itself and says why.
    m_boxes->texts.clear();
    m_boxes->answer = "Record Anyway";
    QTimer::singleShot(0, this, [this] { release("recordingControlWidget"); });
    QTRY_VERIFY_WITH_TIMEOUT(label->text() == "Stop Recording", 20000);
    QTest::qWait(1500);
    freeBytes = 50LL * 1024 * 1024;
    QTRY_VERIFY_WITH_TIMEOUT(label->text() == "Start Recording", 10000);
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->texts.size(), 2, 10000);
    QVERIFY2(m_boxes->texts[1].contains("less than 100 MB"), qPrintable(m_boxes->texts[1]));
    QVERIFY(MediaProbe(m_videos + "/full.mp4").formatDuration() > 0.5);
    m_boxes->answer.clear();
    m_window->setFreeSpaceProbe(nullptr);
}

void TestMainWindow::regionFollowsItsFrameWhileRecorded()
{
    // From the very left edge of the screen, where a region must not lose its first column.
    selectRegion({0, 150}, {400, 450});
    DrawWindow *frame = visibleTopLevel<DrawWindow>();
    const QRect before = frame->geometry().adjusted(4, 4, -4, -4);
    const QSize fields(child<QLineEdit>("widthLineEdit")->text().toInt(),
                       child<QLineEdit>("heightLineEdit")->text().toInt());
    QCOMPARE(fields, before.size());
    QVERIFY(startRecording());
    QTest::qWait(800);

    // Dragged by its bar from the red half into the blue one, then made smaller from its
    // bottom-right corner, while recording.
    QWidget *bar = frame->buttonBar();
    const QPoint grip = bar->mapToGlobal(QPoint(bar->width() / 2, bar->height() / 2));
    QVERIFY(dragPointer(grip, grip + QPoint(1100, 0)));
    QTRY_VERIFY_WITH_TIMEOUT(frame->geometry().left() > 1000, 5000);
    const QPoint corner = frame->geometry().bottomRight() - QPoint(2, 2);
    QVERIFY(dragPointer(corner, corner - QPoint(100, 50)));
    QTRY_VERIFY_WITH_TIMEOUT(frame->width() < before.width(), 5000);
    QTest::qWait(1000);
    const QString file = stopRecording();
    QVERIFY(!file.isEmpty());

    // A 400 x 300 drag is a 400 x 300 area; the file keeps that size and shows the frame's
    // inside wherever the frame went.
    QCOMPARE(before.size(), QSize(400, 300));
    QCOMPARE(videoSize(file), before.size());
    const QImage first = frameOf(file, false);
    const QImage last = frameOf(file, true);
    QVERIFY(shows(first, first.rect().center(), LEFT));
    QVERIFY(shows(last, last.rect().center(), RIGHT));
    // A smaller area of other proportions is fitted in whole: black bars, no frame border.
    const QRect inside = frame->geometry().adjusted(4, 4, -4, -4);
    const double scale = std::min(double(before.width()) / inside.width(),
                                  double(before.height()) / inside.height());
    const int barHeight = (before.height() - int(inside.height() * scale)) / 2;
    const int barWidth = (before.width() - int(inside.width() * scale)) / 2;
    QVERIFY(barHeight > 2 || barWidth > 2);
    const QPoint inBar = barHeight > 2 ? QPoint(last.width() / 2, 1) : QPoint(1, last.height() / 2);
    QVERIFY(shows(last, inBar, Qt::black, 24));
    for (int x = 0; x < last.width(); x += 7)
        QVERIFY(!near(last.pixelColor(x, barHeight + 3), FRAME_BLUE, 30));
}

void TestMainWindow::nextRecordingHasTheFramesSize()
{
    // After moves and resizes, the frame, the size fields and the next file agree.
    DrawWindow *frame = visibleTopLevel<DrawWindow>();
    QVERIFY(frame);
    const QRect inside = frame->geometry().adjusted(4, 4, -4, -4);
    // A language switch in between changes nothing of the region.
    for (const char *code : {"de_DE", "en_US"}) {
        QTest::mouseClick(child<QPushButton>("menuBtn"), Qt::LeftButton);
        for (QAction *action : child<QMenu>("languageMenu")->actions()) {
            if (action->data().toString() == QLatin1String(code))
                action->trigger();
        }
        child<QMenu>("mainMenu")->hide();
    }
    QCOMPARE(child<QLabel>("recordingLabel")->text(), QString("Start Recording"));
    QVERIFY(frame->isVisible());
    QCOMPARE(frame->geometry().adjusted(4, 4, -4, -4), inside);
    QCOMPARE(child<QLineEdit>("widthLineEdit")->text().toInt(), inside.width());
    QCOMPARE(child<QLineEdit>("heightLineEdit")->text().toInt(), inside.height());
    QVERIFY(startRecording());
    QTest::qWait(1000);
    const QString file = stopRecording();
    QSize expected = inside.size();
    expected.rwidth() += expected.width() % 2;
    expected.rheight() += expected.height() % 2;
    QCOMPARE(videoSize(file), expected);
    const QImage picture = frameOf(file, false);
    // Only the blue half, none of the frame's own border on the picture's edges.
    QList<QPoint> edge;
    for (int x = 0; x < picture.width(); x += 5)
        edge << QPoint(x, 0) << QPoint(x, picture.height() - 1);
    for (int y = 0; y < picture.height(); y += 5)
        edge << QPoint(0, y) << QPoint(picture.width() - 1, y);
    for (const QPoint &p : edge)
        QVERIFY(shows(picture, p, RIGHT));
}

void TestMainWindow::closedFrameStaysClosed()
{
    DrawWindow *frame = visibleTopLevel<DrawWindow>();
    QVERIFY(frame);
    auto *close = frame->buttonBar()->findChild<QPushButton *>("closeButton");
    QVERIFY(close);
    QTest::mouseClick(close, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!frame->isVisible(), 5000);
    // Other pages and back: the frame stays closed, and nothing floats over the desktop.
    QTest::mouseClick(child<QPushButton>("fileTab"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    QTest::qWait(300);
    QVERIFY(!frame->isVisible());
    QVERIFY(!visibleTopLevel<SCFullscreenToolbar>());
    // An audio format and back to a video one does not bring it back either.
    auto *format = child<QComboBox>("recordFormatComboBox");
    format->setCurrentIndex(4);
    format->setCurrentIndex(3);
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    QTest::qWait(300);
    QVERIFY(!frame->isVisible());
    QVERIFY(startRecording());
    QTest::qWait(2000);
    const QString file = stopRecording();
    format->setCurrentIndex(0);
    // The whole screen as a GIF, at 15 pictures a second, not 30: two seconds give at most about
    // 30. Whether a loaded machine keeps up with every one of them is for the benchmarks to say.
    QVERIFY(!format->itemData(3, Qt::ToolTipRole).toString().isEmpty());
    const MediaProbe probe(file);
    QCOMPARE(probe.stream("video")["codec_name"].toString(), QString("gif"));
    QCOMPARE(videoSize(file), QGuiApplication::primaryScreen()->size());
    const long frames = MediaProbe::frameCount(file).value_or(0);
    QVERIFY2(frames >= 10 && frames <= 36, qPrintable(QString::number(frames)));
    QVERIFY2(frames / probe.formatDuration() < 16.5, qPrintable(QString::number(frames)));
}

void TestMainWindow::pickedWindowIsFollowedUntilItCloses()
{
    // Another program's window: a flat white box, picked with the pointer.
    QProcess other;
    other.start("xmessage",
                {"-geometry", "420x240+150+200", "-bg", "white", "-fg", "white", "-buttons", "",
                 "a window to record"});
    QVERIFY(other.waitForStarted());
    QString id;
    QVERIFY(QTest::qWaitFor(
            [&] {
                id = xdotoolOutput({"search", "--onlyvisible", "--classname", "xmessage"})
                             .section('\n', 0, 0);
                return !id.isEmpty();
            },
            10000));
    QTest::qWait(500);
    release("selectWindowWidget");
    QTest::qWait(500);
    xdotool({"mousemove", "360", "320"});
    QTest::qWait(300);
    xdotool({"click", "1"});
    DrawWindow *frame = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((frame = visibleTopLevel<DrawWindow>()), 5000);
    const QRect picked = frame->geometry().adjusted(4, 4, -4, -4);
    QVERIFY2(picked.contains(QPoint(360, 320)), QTest::toString(picked));

    const QString previous = newestFile();
    QVERIFY(startRecording());
    QTest::qWait(600);
    // The window moves into the blue half; the frame goes with it.
    xdotool({"windowmove", id, "1300", "300"});
    QTRY_VERIFY_WITH_TIMEOUT(frame->geometry().left() > 1200, 5000);
    QTest::qWait(800);
    // Closing it ends the recording, says so, and keeps the file.
    m_boxes->texts.clear();
    other.kill();
    other.waitForFinished();
    auto *label = child<QLabel>("recordingLabel");
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QString("Start Recording"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_boxes->texts.isEmpty(), 5000);
    QVERIFY2(m_boxes->texts.first().contains("closed"), qPrintable(m_boxes->texts.first()));
    QString file;
    QTRY_VERIFY_WITH_TIMEOUT((file = newestFile()) != previous, 5000);
    QCOMPARE(videoSize(file).width(), picked.width() + picked.width() % 2);
    // White at the start and after the move: the window, not the desktop where it was.
    const QImage first = frameOf(file, false);
    const QImage last = frameOf(file, true);
    QVERIFY(shows(first, first.rect().center(), Qt::white));
    QVERIFY(shows(last, last.rect().center(), Qt::white));
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    release("fullScreenWidget");
}

void TestMainWindow::everyRecordingHasAStopOnTheScreen()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // Full screen: nothing of the program over the desktop until the pointer asks for it.
    release("fullScreenWidget");
    QVERIFY(!visibleTopLevel<SCFullscreenToolbar>());
    xdotool({"mousemove", "700", "700"});
    QVERIFY(startRecording());
    QTest::qWait(400);
    QVERIFY(!visibleTopLevel<SCFullscreenToolbar>());
    xdotool({"mousemove", "960", "2"});
    SCFullscreenToolbar *toolbar = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((toolbar = visibleTopLevel<SCFullscreenToolbar>()), 5000);
    QVERIFY(screen.contains(toolbar->geometry()));
    xdotool({"mousemove", "700", "700"});
    QTRY_VERIFY_WITH_TIMEOUT(!visibleTopLevel<SCFullscreenToolbar>(), 5000);
    const QString file = stopRecording();
    // The first picture's top edge is the desktop's, not the toolbar's.
    const QImage first = frameOf(file, false);
    QVERIFY(shows(first, QPoint(first.width() / 2 + 40, 20), RIGHT));

    // Sound only: the toolbar is there from the start, and its stop button stops.
    child<QComboBox>("recordFormatComboBox")->setCurrentIndex(4);
    QVERIFY(startRecording());
    QTRY_VERIFY_WITH_TIMEOUT((toolbar = visibleTopLevel<SCFullscreenToolbar>()), 5000);
    QVERIFY(screen.contains(toolbar->geometry()));
    QTest::qWait(500);
    QTest::mouseClick(toolbar->findChild<QPushButton *>("recordButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>("recordingLabel")->text(), QString("Start Recording"),
                              10000);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleTopLevel<SCFullscreenToolbar>(), 5000);

    // A region as high as the screen: its bar is still on the screen, and the preset stays.
    child<QComboBox>("recordFormatComboBox")->setCurrentIndex(0);
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    child<QComboBox>("ratioComboBox")->setCurrentText("1:1");
    QCOMPARE(child<QComboBox>("ratioComboBox")->currentText(), QString("1:1"));
    DrawWindow *frame = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((frame = visibleTopLevel<DrawWindow>()), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(frame->buttonBar()->isVisible(), 5000);
    QVERIFY2(screen.contains(frame->buttonBar()->geometry()),
             QTest::toString(frame->buttonBar()->geometry()));
    QVERIFY(startRecording());
    QTest::qWait(400);
    QVERIFY(screen.contains(frame->buttonBar()->geometry()));
    QTest::mouseClick(frame->buttonBar()->findChild<QPushButton *>("startButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>("recordingLabel")->text(), QString("Start Recording"),
                              10000);
    release("fullScreenWidget");
}

void TestMainWindow::laterStartsDoNotOpenTheThankYouPage()
{
    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::HOTKEYS_RECORDING, "None");
    }
    auto second = std::make_unique<SCMainWindow>();
    QCOMPARE(m_urls.urls.size(), 1);
}

int main(int argc, char **argv)
{
    TestHome home;
    g_home = &home;
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-main-window.moc"
