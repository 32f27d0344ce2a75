// Drives the real main window on the test desktop: the engine records real files, which
// ffprobe then reads. Settings, logs and recordings live in a private home.

#include "media-probe.h"
#include "message-box-catcher.h"
#include "sc-countdown-widget.h"
#include "sc-draw-window.h"
#include "sc-main-window.h"
#include "sc-settings.h"
#include "test-home.h"
#include "url-catcher.h"
#include "widget-lookup.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QtTest>

namespace {

TestHome *g_home = nullptr;

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void recordsFromTheRecordTileToTheLibrary();
    void unwritableSaveFolderStopsBeforeTheCountdown();
    void audioFormatTurnsTheScreenOff();
    void presetAndSizeEditsDriveTheFrame();
    void hotkeyCancelsTheCountdown();
    void lowDiskSpaceAsksAndStopsCleanly();
    void laterStartsDoNotOpenTheThankYouPage();

private:
    template<typename T> T *child(const char *name) { return childOf<T>(m_window.get(), name); }
    void release(const char *tileName);
    QString record(int seconds);

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
    }
    m_boxes = new MessageBoxCatcher(this);
    // The first start: the stored choices above are kept, the missing ones get defaults and
    // the thank-you page opens once.
    m_window = std::make_unique<SCMainWindow>();
    QCOMPARE(m_urls.urls.size(), 1);
    QCOMPARE(m_urls.urls[0].scheme(), QString("https"));
    QSettings written(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(written.value(SCSettings::GENERAL_FIRST_RUN).toBool(), false);
    QCOMPARE(written.value(SCSettings::RECORDING_FORMAT).toString(), QString("GIF"));
    QCOMPARE(written.value(SCSettings::RECORDING_SAVE_LOCATION).toString(), m_videos);
    // The countdown case alone waits out a real countdown.
    m_window->setCountdownSeconds(0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->initObsRecording();
    // A stored GIF is selected, not replaced by the default.
    QCOMPARE(child<QComboBox>("recordFormatComboBox")->currentIndex(), 3);
    QCOMPARE(child<QLineEdit>("saveLocationLineEdit")->text(), m_videos);
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(child<QLineEdit>("widthLineEdit")->text().toInt(), screen.width());
    QCOMPARE(child<QLineEdit>("heightLineEdit")->text().toInt(), screen.height());
}

void TestMainWindow::cleanupTestCase()
{
    m_window.reset();
}

void TestMainWindow::release(const char *tileName)
{
    QWidget *tile = child<QWidget>(tileName);
    QTest::mouseRelease(tile, Qt::LeftButton, {}, tile->rect().center());
}

// Starts from the record tile, waits for recording, stops after `seconds`, and returns the
// file that the library lists first once the window is back on the Files page.
QString TestMainWindow::record(int seconds)
{
    auto *label = child<QLabel>("recordingLabel");
    auto *pages = child<QStackedWidget>("mainFunctionPages");
    // The start waits in the countdown's loop: let it run from the event loop.
    QTimer::singleShot(0, this, [this] { release("recordingControlWidget"); });
    if (!QTest::qWaitFor([&] { return label->text() == "Stop Recording"; }, 20000))
        return {};
    QTest::qWait(seconds * 1000);
    release("recordingControlWidget");
    if (!QTest::qWaitFor(
                [&] { return label->text() == "Start Recording" && pages->currentIndex() == 1; },
                20000))
        return {};
    QTest::qWait(100);
    auto *list = child<QListView>("fileListView");
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    const QModelIndex newest = selected.isEmpty() ? list->model()->index(0, 0) : selected.first();
    return newest.data(Qt::UserRole + 1).toString();
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
    const QString file = record(2);
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
    const QString file = record(1);
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
