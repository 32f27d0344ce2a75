// What is recorded is what the frame shows: the real main window, frame, pointer and engine on
// the test desktop. A region dragged and resized while it is recorded, the recording after it,
// a picked window that moves and closes, a closed frame, and the controls that stop each kind
// of recording. Files are read back with FFmpeg.

#include "desktop-input.h"
#include "media-probe.h"
#include "message-box-catcher.h"
#include "pattern-widget.h"
#include "sc-draw-window.h"
#include "sc-fullscreen-toolbar.h"
#include "sc-main-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "test-home.h"
#include "widget-lookup.h"

#include <QApplication>
#include <QComboBox>
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

class TestRecordingArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void regionFollowsItsFrameWhileRecorded();
    void nextRecordingHasTheFramesSize();
    void closedFrameStaysClosed();
    void pickedWindowIsFollowedUntilItCloses();
    void everyRecordingHasAStopOnTheScreen();

private:
    template<typename T> T *child(const char *name) { return childOf<T>(m_window.get(), name); }
    void release(const char *tileName);
    bool startRecording();
    QString stopRecording();
    QString newestFile();
    void selectRegion(const QPoint &from, const QPoint &to);

    std::unique_ptr<PatternWidget> m_halves;
    std::unique_ptr<SCMainWindow> m_window;
    MessageBoxCatcher *m_boxes = nullptr;
};

void TestRecordingArea::initTestCase()
{
    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
        settings.setValue(SCSettings::RECORDING_FORMAT, "MP4");
        settings.setValue(SCSettings::HOTKEYS_RECORDING, "None");
        settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, "None");
        settings.setValue(SCSettings::RECORDING_SPEAKER_SWITCH, false);
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
    m_window = std::make_unique<SCMainWindow>();
    auto translator = std::make_shared<SCTranslator>();
    QVERIFY(translator->load("en_US"));
    QCoreApplication::installTranslator(translator.get());
    m_window->setTranslator(translator);
    // One real countdown is enough for the suite; here it only costs time.
    m_window->setCountdownSeconds(0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->initObsRecording();
    // The window goes to the bottom-right corner, out of the regions the checks record.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    m_window->move(screen.right() - m_window->width() - 20, screen.bottom() - m_window->height());
}

void TestRecordingArea::cleanupTestCase()
{
    m_window.reset();
    m_halves.reset();
}

void TestRecordingArea::release(const char *tileName)
{
    QWidget *tile = child<QWidget>(tileName);
    QTest::mouseRelease(tile, Qt::LeftButton, {}, tile->rect().center());
}

bool TestRecordingArea::startRecording()
{
    auto *label = child<QLabel>("recordingLabel");
    QTimer::singleShot(0, this, [this] { release("recordingControlWidget"); });
    return QTest::qWaitFor([&] { return label->text() == "Stop Recording"; }, 20000);
}

QString TestRecordingArea::stopRecording()
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

// The row the Files page selects after a recording, or its first.
QString TestRecordingArea::newestFile()
{
    auto *list = child<QListView>("fileListView");
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    return (selected.isEmpty() ? list->model()->index(0, 0) : selected.first())
            .data(Qt::UserRole + 1)
            .toString();
}

void TestRecordingArea::selectRegion(const QPoint &from, const QPoint &to)
{
    release("selectRegionWidget");
    QTest::qWait(500);
    QVERIFY(dragPointer(from, to));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<DrawWindow>(), 5000);
}

void TestRecordingArea::regionFollowsItsFrameWhileRecorded()
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

void TestRecordingArea::nextRecordingHasTheFramesSize()
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

void TestRecordingArea::closedFrameStaysClosed()
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

void TestRecordingArea::pickedWindowIsFollowedUntilItCloses()
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
    QTRY_VERIFY_WITH_TIMEOUT(child<QListView>("fileListView")->model()->rowCount() > 0, 5000);
    const QString file = newestFile();
    QCOMPARE(videoSize(file).width(), picked.width() + picked.width() % 2);
    // White at the start and after the move: the window, not the desktop where it was.
    const QImage first = frameOf(file, false);
    const QImage last = frameOf(file, true);
    QVERIFY(shows(first, first.rect().center(), Qt::white));
    QVERIFY(shows(last, last.rect().center(), Qt::white));
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    release("fullScreenWidget");
}

void TestRecordingArea::everyRecordingHasAStopOnTheScreen()
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
    auto *stop = toolbar->findChild<QPushButton *>("recordButton");
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
    stop = toolbar->findChild<QPushButton *>("recordButton");
    QTest::qWait(500);
    QTest::mouseClick(stop, Qt::LeftButton);
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
    QVERIFY2(
            screen.contains(frame->buttonBar()->geometry()),
            qPrintable(QString("%1,%2").arg(frame->buttonBar()->x()).arg(frame->buttonBar()->y())));
    QVERIFY(startRecording());
    QTest::qWait(400);
    QVERIFY(screen.contains(frame->buttonBar()->geometry()));
    auto *frameStop = frame->buttonBar()->findChild<QPushButton *>("startButton");
    QTest::mouseClick(frameStop, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>("recordingLabel")->text(), QString("Start Recording"),
                              10000);
    release("fullScreenWidget");
}

int main(int argc, char **argv)
{
    TestHome home;
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestRecordingArea test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-recording-area.moc"
