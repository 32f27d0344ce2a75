#include "sc-countdown-widget.h"
#include "sc-helpers.h"
#include "sc-settings.h"
#include "sc-switch-widget.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestCountdownSwitch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void countsThreeTwoOneThenFinishes();
    void stopReturnsWithoutFinishing();
    void nonPositiveStartFinishesAtOnce();
    void hotkeyHint();
    void switchTogglesOnLeftReleaseOnly();
    void switchSetCheckedAndPaint();
    void titleHelperCentresTheTitle();

private:
    QTemporaryDir m_config;
};

void TestCountdownSwitch::initTestCase()
{
    QVERIFY(m_config.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
            .setValue(SCSettings::HOTKEYS_RECORDING, QStringLiteral("Ctrl+Alt+R"));
}

void TestCountdownSwitch::countsThreeTwoOneThenFinishes()
{
    SCCountdownWidget countdown;
    auto *number = countdown.findChildren<QLabel *>().value(0);
    QVERIFY(number);

    QStringList seen;
    QSignalSpy finished(&countdown, &SCCountdownWidget::countdownFinished);
    // Record the number on screen at each tick, before the widget hides itself.
    QTimer probe;
    probe.setInterval(50);
    connect(&probe, &QTimer::timeout, this, [&] {
        if (countdown.isVisible() && (seen.isEmpty() || seen.last() != number->text()))
            seen << number->text();
    });
    probe.start();

    countdown.startCountdown(3);
    QVERIFY(countdown.isVisible());
    QCOMPARE(number->text(), QStringLiteral("3"));
    QCOMPARE(finished.count(), 0);

    countdown.blockUntilFinished();
    probe.stop();
    QCOMPARE(finished.count(), 1);
    QVERIFY(!countdown.isVisible());
    QCOMPARE(seen, QStringList({"3", "2", "1"}));
}

void TestCountdownSwitch::stopReturnsWithoutFinishing()
{
    SCCountdownWidget countdown;
    QSignalSpy finished(&countdown, &SCCountdownWidget::countdownFinished);
    countdown.startCountdown(3);
    QTimer::singleShot(200, &countdown, &SCCountdownWidget::stopCountdown);
    countdown.blockUntilFinished();
    QCOMPARE(finished.count(), 0);
    QVERIFY(countdown.isVisible());

    // Nothing more arrives later: the timer is really stopped.
    QTest::qWait(1300);
    QCOMPARE(finished.count(), 0);
}

void TestCountdownSwitch::nonPositiveStartFinishesAtOnce()
{
    for (const int start : {0, -2}) {
        SCCountdownWidget countdown;
        QSignalSpy finished(&countdown, &SCCountdownWidget::countdownFinished);
        countdown.startCountdown(start);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!countdown.isVisible());
        countdown.blockUntilFinished();
        // Returning at all is the point; an idle countdown has nothing to wait for.
        QCOMPARE(finished.count(), 1);
    }
}

void TestCountdownSwitch::hotkeyHint()
{
    {
        SCCountdownWidget countdown;
        QStringList texts;
        for (auto *label : countdown.findChildren<QLabel *>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("Start/Stop")));
        QVERIFY(texts.contains(QStringLiteral("Ctrl+Alt+R")));
    }
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, SCSettings::NO_HOTKEY);
    settings.sync();
    SCCountdownWidget countdown;
    QCOMPARE(countdown.findChildren<QLabel *>().size(), 1);
    QCOMPARE(countdown.size(), QSize(200, 240));
    settings.setValue(SCSettings::HOTKEYS_RECORDING, QStringLiteral("Ctrl+Alt+R"));
}

void TestCountdownSwitch::switchTogglesOnLeftReleaseOnly()
{
    QWidget host;
    auto *sw = new SCSwitchWidget(&host);
    sw->resize(sw->sizeHint());
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy changed(sw, &SCSwitchWidget::checkedChanged);

    QTest::mousePress(sw, Qt::LeftButton);
    QCOMPARE(changed.count(), 0);
    QVERIFY(!sw->isChecked());
    QTest::mouseRelease(sw, Qt::LeftButton);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), true);
    QVERIFY(sw->isChecked());

    QTest::mouseClick(sw, Qt::RightButton);
    QCOMPARE(changed.count(), 1);
    QVERIFY(sw->isChecked());

    // The knob travels to the end within its animation.
    QTRY_COMPARE(sw->position(), 1.0);
    QTest::mouseClick(sw, Qt::LeftButton);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(1).at(0).toBool(), false);
    QTRY_COMPARE(sw->position(), 0.0);
}

void TestCountdownSwitch::switchSetCheckedAndPaint()
{
    SCSwitchWidget sw;
    sw.resize(25, 12);
    QSignalSpy changed(&sw, &SCSwitchWidget::checkedChanged);
    sw.setChecked(false);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(sw.position(), 0.0);
    QTest::qWait(200);
    QCOMPARE(sw.position(), 0.0);

    sw.setProperty("checked", true);
    QCOMPARE(changed.count(), 1);
    QTRY_COMPARE(sw.position(), 1.0);
    sw.setChecked(true);
    QCOMPARE(changed.count(), 1);
    // Track in the active colour beside the white knob at the right end; off, a grey knob left.
    const QImage image = sw.grab().toImage();
    QCOMPARE(image.pixelColor(5, 6), QColor("#BC382F"));
    QCOMPARE(image.pixelColor(18, 6), QColor(Qt::white));
    sw.setChecked(false);
    QTRY_COMPARE(sw.position(), 0.0);
    const QImage off = sw.grab().toImage();
    QCOMPARE(off.pixelColor(18, 6), QColor("#1E1E1E"));
    QCOMPARE(off.pixelColor(7, 6), QColor("#AAAAAA"));
}

void TestCountdownSwitch::titleHelperCentresTheTitle()
{
    QWidget bar;
    auto *layout = new QHBoxLayout(&bar);
    auto *logo = new QLabel("logo", &bar);
    auto *title = new QLabel("Vistrel", &bar);
    title->setObjectName("titleWidget");
    auto *menu = new QPushButton("Menu and more", &bar);
    menu->setObjectName("menuWidget");
    layout->addWidget(logo);
    layout->addWidget(title);
    layout->addWidget(menu);

    Helpers::centerTitleWidget(layout);

    QCOMPARE(layout->count(), 5);
    QWidget *balance = layout->itemAt(0)->widget();
    QVERIFY(balance && balance != logo);
    QCOMPARE(balance->parentWidget(), &bar);
    QCOMPARE(balance->minimumWidth(), menu->sizeHint().width());
    QCOMPARE(balance->maximumWidth(), menu->sizeHint().width());
    QVERIFY(layout->itemAt(1)->spacerItem());
    QCOMPARE(layout->stretch(1), 2);
    QCOMPARE(layout->itemAt(2)->widget(), title);
    QCOMPARE(layout->stretch(3), 2);
    QCOMPARE(layout->itemAt(4)->widget(), menu);
    // Taken out of the layout, not deleted.
    QCOMPARE(logo->parentWidget(), &bar);

    bar.resize(800, 40);
    layout->activate();
    QVERIFY(qAbs(title->geometry().center().x() - bar.rect().center().x()) <= 1);

    // Other layouts are left alone.
    Helpers::centerTitleWidget(nullptr);
    QWidget plain;
    auto *single = new QHBoxLayout(&plain);
    auto *only = new QLabel("Vistrel", &plain);
    only->setObjectName("titleWidget");
    single->addWidget(only);
    Helpers::centerTitleWidget(single);
    QCOMPARE(single->count(), 1);
    QCOMPARE(single->itemAt(0)->widget(), only);
}

QTEST_MAIN(TestCountdownSwitch)
#include "test-countdown-switch.moc"
