// Brings up libobs on the session's X server with the real screen capture and the mouse
// effects filter, moves and clicks the pointer with xdotool and inspects the converted frames;
// and the filter's reading of its keys: colour strings in any spacing, libobs integer
// colours, and which settings object wins.

#include "desktop-input.h"
#include "effect-config.h"
#include "flat-window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <obs-nix-platform.h>
#include <obs.h>

#include <mutex>
#include <vector>

namespace {

// Frames are fetched at half the screen size: cheap to read, still precise to two pixels.
constexpr int kScale = 2;
constexpr int kFps = 15;
// Liveness limits only: every check waits for frames, never for time.
constexpr int kWaitMs = 30000;
constexpr int kFramesForMove = 45;
constexpr int kFramesForRing = 45;
constexpr int kFramesWithoutRing = 20;

// Distinct channels, so that swapped red and blue would show.
const QColor kBackground(0x50, 0x40, 0x30);

enum Hue { Green, Blue, Red, HueCount };

// How much of each effect colour one region of one frame holds.
struct Region
{
    int count[HueCount] = {};
    double sumX[HueCount] = {};
    double sumY[HueCount] = {};
    int strongest[HueCount] = {};

    QPointF centroid(Hue hue) const
    {
        return count[hue] ? QPointF(sumX[hue] / count[hue], sumY[hue] / count[hue]) : QPointF();
    }
};

struct FrameRecord
{
    std::vector<Region> regions;
    QColor corner;
};

// Margin by which the pixel's own hue beats the other two; 0 when it does not dominate.
int dominance(Hue hue, int r, int g, int b)
{
    switch (hue) {
    case Green:
        // The highlight is green with some blue; blended at 30% it is a soft mint.
        return (g > r + 40 && g > b + 20) ? g - std::max(r, b) : 0;
    case Blue:
        return (b > r + 60 && b > g + 60) ? b - std::max(r, g) : 0;
    case Red:
        return (r > g + 60 && r > b + 60) ? r - std::max(g, b) : 0;
    default:
        return 0;
    }
}

bool loadModule(const QString &binDir, const QString &dataDir, const QString &name)
{
    obs_module_t *module = nullptr;
    const QByteArray bin = QFile::encodeName(binDir + "/" + name + ".so");
    const QByteArray data = QFile::encodeName(dataDir + "/" + name);
    if (obs_open_module(&module, bin.constData(), data.constData()) != MODULE_SUCCESS) {
        qWarning("cannot open %s", bin.constData());
        return false;
    }
    return obs_init_module(module);
}

bool click(int button)
{
    return xdotool({"click", QString::number(button)});
}

bool sameColor(const Rgba &a, const Rgba &b)
{
    const auto near = [](float x, float y) { return std::abs(x - y) < 1e-3f; };
    return near(a.r, b.r) && near(a.g, b.g) && near(a.b, b.b) && near(a.a, b.a);
}

QString describe(const std::optional<Rgba> &c)
{
    return c ? QString("%1, %2, %3, %4").arg(c->r).arg(c->g).arg(c->b).arg(c->a) : "none";
}

} // namespace

Q_DECLARE_METATYPE(std::optional<Rgba>)

class TestMouseEffects : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void highlightAndClickRings();
    void cropsEitherSideKeepTheHighlightOnThePointer();
    void switchesOffRemoveEffects();
    void filtersComeAndGoWhileClicking();
    void parsesColorStrings_data();
    void parsesColorStrings();
    void readsIntegerColorsOwnValuesWinThenCaptureValuesThenDefaults();

private:
    static void onFrame(void *param, video_data *frame);
    void analyse(const video_data *frame);

    void setProbes(const std::vector<QPoint> &screenPoints, int screenRadius);
    // Waits for frames rendered after this call; returns them once `done` holds for one.
    std::vector<FrameRecord> framesUntil(int maxFrames,
                                         const std::function<bool(const FrameRecord &)> &done);
    std::vector<FrameRecord> nextFrames(int count);
    // Waits for a frame whose first probe meets `done`; false when none came.
    bool awaitRegion(int maxFrames, const std::function<bool(const Region &)> &done,
                     Region *last = nullptr);
    void writeCaptureSettings(bool circle, bool clicks) { writeKeys(m_capture, circle, clicks); }
    void writeKeys(obs_source_t *source, bool circle, bool clicks);
    void checkHighlightAt(QPoint screenPoint, QPoint elsewhere, QPoint origin = {});
    obs_source_t *addCrop(int left, int top);

    QTemporaryDir m_configDir;
    FlatWindow m_background {kBackground};
    QSize m_screen;
    QSize m_frameSize;
    obs_source_t *m_capture = nullptr;
    obs_source_t *m_filter = nullptr;

    std::mutex m_mutex;
    std::vector<QRect> m_probes; // in frame pixels
    std::vector<FrameRecord> m_records;
};

void TestMouseEffects::initTestCase()
{
    QVERIFY(m_configDir.isValid());
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    QVERIFY2(x11 && x11->display(), "the test needs an X11 session");

    m_screen = QGuiApplication::primaryScreen()->geometry().size();
    m_frameSize = m_screen / kScale;

    m_background.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_background));

    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(x11->display());
    QVERIFY(obs_startup("en-US", QFile::encodeName(m_configDir.path()).constData(), nullptr));

    obs_video_info ovi = {};
    ovi.graphics_module = "libobs-opengl";
    ovi.fps_num = kFps;
    ovi.fps_den = 1;
    ovi.base_width = uint32_t(m_screen.width());
    ovi.base_height = uint32_t(m_screen.height());
    ovi.output_width = uint32_t(m_frameSize.width());
    ovi.output_height = uint32_t(m_frameSize.height());
    // Bytes in memory B, G, R, A: what libobs 29 delivers (it does so for RGBA as well).
    ovi.output_format = VIDEO_FORMAT_BGRA;
    ovi.gpu_conversion = true;
    ovi.colorspace = VIDEO_CS_709;
    ovi.range = VIDEO_RANGE_FULL;
    ovi.scale_type = OBS_SCALE_BILINEAR;
    QCOMPARE(obs_reset_video(&ovi), OBS_VIDEO_SUCCESS);

    // Only what is needed: loading every Debian module pulls a Qt 5 one into this Qt 6 process.
    QVERIFY(loadModule(OBS_SYSTEM_PLUGIN_DIR, OBS_SYSTEM_DATA_DIR, "linux-capture"));
    QVERIFY(loadModule(OBS_SYSTEM_PLUGIN_DIR, OBS_SYSTEM_DATA_DIR, "obs-filters"));
    QVERIFY(loadModule(VISTREL_PLUGIN_DIR, VISTREL_PLUGIN_DIR "/data", "vistrel-mouse-effects"));
    obs_post_load_modules();

    obs_data_t *settings = obs_data_create();
    obs_data_set_bool(settings, "show_cursor", false);
    m_capture = obs_source_create("xshm_input", "screen", settings, nullptr);
    obs_data_release(settings);
    QVERIFY2(m_capture, "xshm_input is missing");
    m_filter = obs_source_create_private("vistrel_mouse_effects", "mouse effects", nullptr);
    QVERIFY2(m_filter, "the mouse effects module did not register its filter");
    obs_source_filter_add(m_capture, m_filter);
    obs_set_output_source(0, m_capture);

    obs_add_raw_video_callback(nullptr, &TestMouseEffects::onFrame, this);
}

void TestMouseEffects::cleanupTestCase()
{
    obs_remove_raw_video_callback(&TestMouseEffects::onFrame, this);
    obs_set_output_source(0, nullptr);
    if (m_capture && m_filter)
        obs_source_filter_remove(m_capture, m_filter);
    obs_source_release(m_filter);
    obs_source_release(m_capture);
    obs_shutdown();
    // libobs counts its own allocations, which include everything the filter makes.
    QCOMPARE(bnum_allocs(), 0);
}

void TestMouseEffects::onFrame(void *param, video_data *frame)
{
    static_cast<TestMouseEffects *>(param)->analyse(frame);
}

void TestMouseEffects::analyse(const video_data *frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    FrameRecord record;
    for (const QRect &probe : m_probes) {
        Region region;
        const QRect box = probe.intersected(QRect(QPoint(), m_frameSize));
        for (int y = box.top(); y <= box.bottom(); ++y) {
            const uint8_t *row = frame->data[0] + size_t(y) * frame->linesize[0];
            for (int x = box.left(); x <= box.right(); ++x) {
                const uint8_t *px = row + x * 4;
                for (int hue = 0; hue < HueCount; ++hue) {
                    const int margin = dominance(Hue(hue), px[2], px[1], px[0]);
                    if (!margin)
                        continue;
                    ++region.count[hue];
                    region.sumX[hue] += x;
                    region.sumY[hue] += y;
                    region.strongest[hue] = std::max(region.strongest[hue], margin);
                }
            }
        }
        record.regions.push_back(region);
    }
    const uint8_t *corner = frame->data[0] + 4 * frame->linesize[0] + 4 * 4;
    record.corner = QColor(corner[2], corner[1], corner[0]);
    m_records.push_back(std::move(record));
}

void TestMouseEffects::setProbes(const std::vector<QPoint> &screenPoints, int screenRadius)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_probes.clear();
    const int r = screenRadius / kScale;
    for (const QPoint &p : screenPoints)
        m_probes.push_back(QRect(p.x() / kScale - r, p.y() / kScale - r, 2 * r + 1, 2 * r + 1));
    m_records.clear();
}

std::vector<FrameRecord>
TestMouseEffects::framesUntil(int maxFrames, const std::function<bool(const FrameRecord &)> &done)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.clear();
    }
    std::vector<FrameRecord> seen;
    bool finished = false;
    QDeadlineTimer deadline(kWaitMs);
    while (!finished && int(seen.size()) < maxFrames && !deadline.hasExpired()) {
        QTest::qWait(20);
        std::vector<FrameRecord> fresh;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            fresh.swap(m_records);
        }
        for (FrameRecord &record : fresh) {
            if (finished || int(seen.size()) >= maxFrames)
                break;
            finished = done(record);
            seen.push_back(std::move(record));
        }
    }
    if (!finished && int(seen.size()) < maxFrames)
        qWarning("only %d frames arrived", int(seen.size()));
    return seen;
}

std::vector<FrameRecord> TestMouseEffects::nextFrames(int count)
{
    return framesUntil(count, [](const FrameRecord &) { return false; });
}

bool TestMouseEffects::awaitRegion(int maxFrames, const std::function<bool(const Region &)> &done,
                                   Region *last)
{
    const auto frames
            = framesUntil(maxFrames, [&](const FrameRecord &f) { return done(f.regions[0]); });
    if (frames.empty() || !done(frames.back().regions[0]))
        return false;
    if (last)
        *last = frames.back().regions[0];
    return true;
}

// The values that the engine writes when the mouse effect is switched.
void TestMouseEffects::writeKeys(obs_source_t *source, bool circle, bool clicks)
{
    obs_data_t *settings = obs_source_get_settings(source);
    obs_data_set_bool(settings, "show_fixed_circle", circle);
    obs_data_set_string(settings, "fixed_circle_color", "0.0, 1.0, 0.5, 0.3");
    obs_data_set_bool(settings, "show_click_animation", clicks);
    obs_data_set_string(settings, "left_click_color", "0.0, 0.0, 1.0, 0.7");
    obs_data_set_string(settings, "right_click_color", "1.0, 0.0, 0.0, 0.7");
    obs_source_update(source, settings);
    obs_data_release(settings);
}

// `origin` is where the recorded picture starts on the screen (a crop's left/top).
void TestMouseEffects::checkHighlightAt(QPoint screenPoint, QPoint elsewhere, QPoint origin)
{
    setProbes({screenPoint - origin, elsewhere - origin}, 60);
    const auto frames = framesUntil(
            kFramesForMove, [](const FrameRecord &f) { return f.regions[0].count[Green] > 150; });
    QVERIFY(!frames.empty());
    const Region &at = frames.back().regions[0];
    const QPointF expected = QPointF(screenPoint - origin) / kScale;
    const QPointF centre = at.centroid(Green);
    // The highlight sits where the pointer is in the frame, and nowhere else.
    QString where;
    QDebug(&where) << at.count[Green] << "highlight pixels centred at" << centre << "pointer at"
                   << expected << "in the frame";
    QVERIFY2(at.count[Green] > 150 && (centre - expected).manhattanLength() <= 3,
             qPrintable(where));
    QCOMPARE(frames.back().regions[1].count[Green], 0);
}

obs_source_t *TestMouseEffects::addCrop(int left, int top)
{
    // The engine's crop settings: relative margins in screen pixels.
    obs_data_t *settings = obs_data_create();
    obs_data_set_bool(settings, "relative", true);
    obs_data_set_int(settings, "left", left);
    obs_data_set_int(settings, "top", top);
    obs_data_set_int(settings, "right", 0);
    obs_data_set_int(settings, "bottom", 0);
    obs_data_set_int(settings, "cx", 0);
    obs_data_set_int(settings, "cy", 0);
    obs_source_t *crop = obs_source_create_private("crop_filter", "crop", settings);
    obs_data_release(settings);
    if (crop)
        obs_source_filter_add(m_capture, crop);
    return crop;
}

void TestMouseEffects::highlightAndClickRings()
{
    writeCaptureSettings(true, true);
    // The highlight follows the pointer across the screen.
    QVERIFY(movePointer(600, 400));
    checkHighlightAt({600, 400}, {1400, 800});
    // The frames show the screen with its colours as they are, or no colour check means much.
    const auto frames = nextFrames(1);
    QVERIFY(!frames.empty());
    QCOMPARE(frames.back().corner, kBackground);
    const QPoint at(1000, 500);
    QVERIFY(movePointer(at));
    checkHighlightAt(at, {400, 300});

    const struct
    {
        int button;
        Hue hue;
        Hue otherHue;
    } cases[] = {{1, Blue, Red}, {3, Red, Blue}};

    for (const auto &c : cases) {
        setProbes({at}, 90);
        QVERIFY(click(c.button));
        Region ring;
        QVERIFY2(awaitRegion(
                         kFramesForRing, [&](const Region &r) { return r.count[c.hue] > 40; },
                         &ring),
                 qPrintable(QString("no ring after button %1").arg(c.button)));
        QCOMPARE(ring.count[c.otherHue], 0);
        const QPointF centre = ring.centroid(c.hue);
        QVERIFY2((centre - QPointF(at) / kScale).manhattanLength() <= 3,
                 qPrintable(QString("ring centred at %1,%2").arg(centre.x()).arg(centre.y())));

        // Then the ring fades until nothing of it is left, while the highlight stays.
        const auto fading = framesUntil(kFramesForRing, [&](const FrameRecord &f) {
            return f.regions[0].count[c.hue] == 0;
        });
        QVERIFY(!fading.empty());
        QCOMPARE(fading.back().regions[0].count[c.hue], 0);
        QVERIFY(fading.back().regions[0].count[Green] > 150);
        int lastStrength = ring.strongest[c.hue];
        for (const FrameRecord &f : fading) {
            if (f.regions[0].count[c.hue])
                lastStrength = f.regions[0].strongest[c.hue];
        }
        if (fading.size() > 1)
            QVERIFY2(lastStrength < ring.strongest[c.hue],
                     qPrintable(QString("ring did not fade: %1 then %2")
                                        .arg(ring.strongest[c.hue])
                                        .arg(lastStrength)));
    }
}

// A crop after the filter, as the engine attaches them, and one before it.
void TestMouseEffects::cropsEitherSideKeepTheHighlightOnThePointer()
{
    writeCaptureSettings(true, false);
    obs_source_t *crop = addCrop(200, 200);
    QVERIFY(crop);
    const QPoint at(600, 400);
    QVERIFY(movePointer(at));
    checkHighlightAt(at, {1000, 700}, {200, 200});
    // Where the pointer would be without the crop there is nothing.
    setProbes({at}, 40);
    const auto frames = nextFrames(3);
    QVERIFY(!frames.empty());
    QCOMPARE(frames.back().regions[0].count[Green], 0);

    obs_source_filter_remove(m_capture, m_filter);
    obs_source_filter_add(m_capture, m_filter);
    checkHighlightAt(at, {1000, 700}, {200, 200});
    // A changed crop moves the picture; the highlight follows it.
    obs_data_t *settings = obs_source_get_settings(crop);
    obs_data_set_int(settings, "left", 400);
    obs_data_set_int(settings, "top", 100);
    obs_source_update(crop, settings);
    obs_data_release(settings);
    checkHighlightAt(at, {1000, 700}, {400, 100});

    // Back to the order the engine uses: the filter first.
    obs_source_filter_remove(m_capture, m_filter);
    obs_source_filter_remove(m_capture, crop);
    obs_source_release(crop);
    obs_source_filter_add(m_capture, m_filter);
}

// The switches work written to the capture, as the engine does, and written to the filter
// itself, whose own settings win over the capture's (how they merge is checked below).
void TestMouseEffects::switchesOffRemoveEffects()
{
    const QPoint at(800, 600);
    QVERIFY(movePointer(at));
    for (obs_source_t *target : {m_capture, m_filter}) {
        writeCaptureSettings(false, false);
        writeKeys(target, true, true);
        checkHighlightAt(at, {300, 300});

        writeKeys(target, false, false);
        setProbes({at}, 90);
        QVERIFY(awaitRegion(kFramesForMove, [](const Region &r) { return r.count[Green] == 0; }));

        QVERIFY(click(1));
        QVERIFY(click(3));
        const auto after = nextFrames(kFramesWithoutRing);
        QCOMPARE(int(after.size()), kFramesWithoutRing);
        for (const FrameRecord &f : after) {
            QCOMPARE(f.regions[0].count[Green], 0);
            QCOMPARE(f.regions[0].count[Blue], 0);
            QCOMPARE(f.regions[0].count[Red], 0);
        }

        // Switched on again, the same clicks draw rings: the silence above was the switch.
        writeKeys(target, false, true);
        nextFrames(3);
        setProbes({at}, 90);
        QVERIFY(click(1));
        Region shown;
        QVERIFY(awaitRegion(
                kFramesForRing, [](const Region &r) { return r.count[Blue] > 40; }, &shown));
        QCOMPARE(shown.count[Green], 0);
    }
}

// Each filter has an X thread of its own; making and dropping them under clicks must neither
// hang nor leak (the leak count is checked at shutdown).
void TestMouseEffects::filtersComeAndGoWhileClicking()
{
    for (int i = 0; i < 4; ++i) {
        obs_data_t *settings = obs_data_create();
        obs_data_set_bool(settings, "show_fixed_circle", true);
        obs_data_set_bool(settings, "show_click_animation", true);
        obs_source_t *extra
                = obs_source_create_private("vistrel_mouse_effects", "extra effects", settings);
        obs_data_release(settings);
        QVERIFY(extra);
        obs_source_filter_add(m_capture, extra);
        QVERIFY(click(1));
        QCOMPARE(int(nextFrames(2).size()), 2);
        obs_source_filter_remove(m_capture, extra);
        obs_source_release(extra);
    }
}

void TestMouseEffects::parsesColorStrings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<Rgba>>("expected"); // none: rejected
    QTest::newRow("tight") << "1,0,0.25,1" << std::optional(Rgba {1.f, 0.f, .25f, 1.f});
    QTest::newRow("loose") << "  0.1 ,\t0.2 , 0.3,0.4 " << std::optional(Rgba {.1f, .2f, .3f, .4f});
    QTest::newRow("clamped") << "2, -1, 0.5, 1.5" << std::optional(Rgba {1.f, 0.f, .5f, 1.f});
    for (const char *malformed :
         {"", "1, 0, 0", "1, 0, 0, 1, 1", "red, green, blue, alpha", "0.5; 0.5; 0.5; 0.5",
          "0,5, 0,5, 0,5, 0,5", "1, , 0, 1", "1, 0, 0, 1x"})
        QTest::newRow(malformed) << QString(malformed) << std::optional<Rgba>();
}

void TestMouseEffects::parsesColorStrings()
{
    QFETCH(QString, text);
    QFETCH(std::optional<Rgba>, expected);
    const std::optional<Rgba> color = parseColorString(text.toUtf8().toStdString());
    QVERIFY2(color.has_value() == expected.has_value() && (!color || sameColor(*color, *expected)),
             qPrintable(describe(color)));
}

void TestMouseEffects::readsIntegerColorsOwnValuesWinThenCaptureValuesThenDefaults()
{
    QVERIFY(sameColor(colorFromAbgr(0xff00ff00), Rgba {0.f, 1.f, 0.f, 1.f}));
    QVERIFY(sameColor(colorFromAbgr(0x33ff0000), Rgba {0.f, 0.f, 1.f, 0.2f}));
    QVERIFY(sameColor(colorFromAbgr(0x000000ff), Rgba {1.f, 0.f, 0.f, 0.f}));

    obs_data_t *settings = obs_data_create();
    obs_data_set_int(settings, MouseEffectKeys::leftClickColor, 0xff0000ff);
    const PartialEffectConfig read = PartialEffectConfig::fromUserValues(settings);
    obs_data_release(settings);
    QVERIFY(read.leftClickColor && sameColor(*read.leftClickColor, Rgba {1.f, 0.f, 0.f, 1.f}));

    obs_data_t *own = obs_data_create();
    obs_data_t *capture = obs_data_create();
    // Defaults of a settings object are no user choice and must not hide the capture's values.
    obs_data_set_default_bool(own, MouseEffectKeys::showCircle, false);
    obs_data_set_default_string(own, MouseEffectKeys::circleColor, "1, 1, 1, 1");
    obs_data_set_bool(own, MouseEffectKeys::showClicks, false);
    obs_data_set_string(own, MouseEffectKeys::rightClickColor, "0, 1, 0, 1");
    obs_data_set_bool(capture, MouseEffectKeys::showCircle, true);
    obs_data_set_string(capture, MouseEffectKeys::circleColor, "0.2, 0.4, 0.6, 0.8");
    obs_data_set_bool(capture, MouseEffectKeys::showClicks, true);
    obs_data_set_string(capture, MouseEffectKeys::rightClickColor, "0, 0, 1, 1");
    obs_data_set_string(capture, MouseEffectKeys::leftClickColor, "not a colour");

    const EffectConfig config = mergeConfig(PartialEffectConfig::fromUserValues(own),
                                            PartialEffectConfig::fromUserValues(capture));
    obs_data_release(own);
    obs_data_release(capture);

    QVERIFY(config.showCircle);
    QVERIFY(sameColor(config.circleColor, Rgba {.2f, .4f, .6f, .8f}));
    QVERIFY(!config.showClicks);
    QVERIFY(sameColor(config.rightClickColor, Rgba {0.f, 1.f, 0.f, 1.f}));
    QVERIFY(sameColor(config.leftClickColor, Rgba {0.f, 0.f, 1.f, .7f}));

    // Nothing set anywhere: the effects are off.
    const EffectConfig none = mergeConfig({}, PartialEffectConfig::fromUserValues(nullptr));
    QVERIFY(!none.showCircle);
    QVERIFY(!none.showClicks);
}

QTEST_MAIN(TestMouseEffects)
#include "test-mouse-effects.moc"
