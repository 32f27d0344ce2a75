#include "sc-helpers.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

class TestTitleHelpers : public QObject
{
    Q_OBJECT

private slots:
    void centresTheTitle();
    void leavesOtherLayoutsAlone();
};

void TestTitleHelpers::centresTheTitle()
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
}

void TestTitleHelpers::leavesOtherLayoutsAlone()
{
    Helpers::centerTitleWidget(nullptr);

    QWidget bar;
    auto *layout = new QHBoxLayout(&bar);
    auto *title = new QLabel("Vistrel", &bar);
    title->setObjectName("titleWidget");
    layout->addWidget(title);
    Helpers::centerTitleWidget(layout);
    QCOMPARE(layout->count(), 1);
    QCOMPARE(layout->itemAt(0)->widget(), title);
}

QTEST_MAIN(TestTitleHelpers)
#include "test-title-helpers.moc"
