// The filter's reading of the pointer keys: colour strings in any spacing,
// libobs integer colours, and which settings object wins.

#include "effect-config.h"

#include <QtTest>

#include <obs-data.h>

namespace {

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

class TestMouseEffectConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesColorStrings_data();
    void parsesColorStrings();
    void readsIntegerColors();
    void ownValuesWinThenCaptureValuesThenDefaults();
};

void TestMouseEffectConfig::parsesColorStrings_data()
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

void TestMouseEffectConfig::parsesColorStrings()
{
    QFETCH(QString, text);
    QFETCH(std::optional<Rgba>, expected);
    const std::optional<Rgba> color = parseColorString(text.toUtf8().toStdString());
    QVERIFY2(color.has_value() == expected.has_value() && (!color || sameColor(*color, *expected)),
             qPrintable(describe(color)));
}

void TestMouseEffectConfig::readsIntegerColors()
{
    QVERIFY(sameColor(colorFromAbgr(0xff00ff00), Rgba {0.f, 1.f, 0.f, 1.f}));
    QVERIFY(sameColor(colorFromAbgr(0x33ff0000), Rgba {0.f, 0.f, 1.f, 0.2f}));
    QVERIFY(sameColor(colorFromAbgr(0x000000ff), Rgba {1.f, 0.f, 0.f, 0.f}));

    obs_data_t *settings = obs_data_create();
    obs_data_set_int(settings, MouseEffectKeys::leftClickColor, 0xff0000ff);
    const PartialEffectConfig read = PartialEffectConfig::fromUserValues(settings);
    obs_data_release(settings);
    QVERIFY(read.leftClickColor && sameColor(*read.leftClickColor, Rgba {1.f, 0.f, 0.f, 1.f}));
}

void TestMouseEffectConfig::ownValuesWinThenCaptureValuesThenDefaults()
{
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

QTEST_APPLESS_MAIN(TestMouseEffectConfig)
#include "test-mouse-effect-config.moc"
