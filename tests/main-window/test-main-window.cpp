// Drives the real main window on the test desktop: the engine records real files, which
// ffprobe then reads. Settings, logs and recordings live in a private home.

#include "sc-main-window.h"
#include "sc-settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QTemporaryDir *g_home = nullptr;

QJsonObject probe(const QString &file)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json", file});
    if (!ffprobe.waitForFinished(30000) || ffprobe.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
}

// Message boxes run their own loop; this closes them and keeps their texts.
class MessageBoxCatcher : public QObject
{
public:
    QStringList texts;
    explicit MessageBoxCatcher(QObject *parent)
        : QObject(parent)
    {
        m_timer.setInterval(50);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                    texts << box->text();
                    box->done(QMessageBox::Ok);
                }
            }
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void startsWithStoredChoices();
    void recordsFromTheRecordTileToTheLibrary();
    void neverOverwritesAnExistingRecording();
    void unwritableSaveFolderStopsBeforeTheCountdown();
    void regionAtTheLeftEdgeIsRecordedAsChosen();
    void audioFormatTurnsTheScreenOff();

private:
    template<typename T> T *child(const char *name)
    {
        T *widget = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    void release(const char *tileName);
    QString record(int seconds);

    std::unique_ptr<SCMainWindow> m_window;
    MessageBoxCatcher *m_boxes = nullptr;
    QString m_videos;
};

void TestMainWindow::initTestCase()
{
    m_videos = g_home->filePath("Videos/Vistrel");
    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::RECORDING_FORMAT, "GIF");
        settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
        settings.setValue(SCSettings::HOTKEYS_RECORDING, "None");
        settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, "None");
    }
    m_boxes = new MessageBoxCatcher(this);
    m_window = std::make_unique<SCMainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->initObsRecording();
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
    const QModelIndex first = list->model()->index(0, 0);
    const QStringList selected = [&] {
        QStringList rows;
        for (const QModelIndex &index : list->selectionModel()->selectedIndexes())
            rows << index.data(Qt::UserRole + 1).toString();
        return rows;
    }();
    return selected.value(0, first.data(Qt::UserRole + 1).toString());
}

void TestMainWindow::startsWithStoredChoices()
{
    // A stored GIF is selected, not replaced by the default.
    QCOMPARE(child<QComboBox>("recordFormatComboBox")->currentIndex(), 3);
    QCOMPARE(child<QLineEdit>("saveLocationLineEdit")->text(), m_videos);
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(child<QLineEdit>("widthLineEdit")->text().toInt(), screen.width());
    QCOMPARE(child<QLineEdit>("heightLineEdit")->text().toInt(), screen.height());
}

void TestMainWindow::recordsFromTheRecordTileToTheLibrary()
{
    child<QComboBox>("recordFormatComboBox")->setCurrentIndex(0);
    child<QLineEdit>("filenameEdit")->setText("  demo  ");
    const QString file = record(2);
    QCOMPARE(file, m_videos + "/demo.mp4");
    QVERIFY(child<QPushButton>("videoTab")->isChecked());
    QVERIFY(QFileInfo::exists(file));

    const QJsonObject info = probe(file);
    QVERIFY2(!info.isEmpty(), qPrintable(file));
    const QJsonArray streams = info["streams"].toArray();
    QStringList codecs;
    for (const QJsonValue &stream : streams)
        codecs << stream["codec_name"].toString();
    QCOMPARE(codecs, QStringList({"h264", "aac"}));
    QCOMPARE(streams.at(0).toObject()["width"].toInt(),
             QGuiApplication::primaryScreen()->size().width());
    QVERIFY(info["format"]["duration"].toString().toDouble() > 1.0);
}

void TestMainWindow::neverOverwritesAnExistingRecording()
{
    QFile existing(m_videos + "/keep.mp4");
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("precious");
    existing.close();

    child<QLineEdit>("filenameEdit")->setText("keep");
    const QString file = record(1);
    QCOMPARE(file, m_videos + "/keep (2).mp4");
    QFile check(m_videos + "/keep.mp4");
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("precious"));
    QVERIFY(!probe(file).isEmpty());
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

void TestMainWindow::regionAtTheLeftEdgeIsRecordedAsChosen()
{
    child<QLineEdit>("filenameEdit")->setText("edge");
    release("selectRegionWidget");
    QTest::qWait(500);
    // Drag from the very left edge with the real pointer, as a user would.
    QProcess::execute("xdotool", {"mousemove", "0", "100", "mousedown", "1"});
    QTest::qWait(200);
    QProcess::execute("xdotool", {"mousemove", "200", "250"});
    QTest::qWait(100);
    QProcess::execute("xdotool", {"mousemove", "399", "399", "mouseup", "1"});
    QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>("widthLineEdit")->text().toInt(), 400, 10000);
    QCOMPARE(child<QLineEdit>("heightLineEdit")->text().toInt(), 300);

    const QString file = record(1);
    QCOMPARE(file, m_videos + "/edge.mp4");
    const QJsonObject info = probe(file);
    const QJsonObject video = info["streams"].toArray().at(0).toObject();
    QCOMPARE(video["width"].toInt(), 400);
    QCOMPARE(video["height"].toInt(), 300);
    release("fullScreenWidget");
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

int main(int argc, char **argv)
{
    QTemporaryDir home;
    g_home = &home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-main-window.moc"
