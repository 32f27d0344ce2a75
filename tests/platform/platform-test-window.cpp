// A window of another process for the platform tests: shows itself where it is told,
// reports its frame, the mouse presses and keys it receives on stdout, and can hold a
// global hotkey so that the test process finds the key taken.
#include "sc-global-hotkey.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <memory>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + '\n'), stdout);
    std::fflush(stdout);
}

QString rectText(const QRect &r)
{
    return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

class TargetWindow : public QWidget
{
public:
    explicit TargetWindow(const QColor &color)
        : m_color(color)
    { }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), m_color); }
    void mousePressEvent(QMouseEvent *event) override
    {
        const QPoint p = event->globalPosition().toPoint();
        say(QStringLiteral("press %1 %2").arg(p.x()).arg(p.y()));
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        // Shift, Control, Meta, Alt, CapsLock, NumLock and ScrollLock are no key of their own.
        if (event->key() < Qt::Key_Shift || event->key() > Qt::Key_ScrollLock)
            say(QStringLiteral("key %1").arg(QKeySequence(event->keyCombination()).toString()));
    }

private:
    QColor m_color;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"rect", "x,y,w,h of the client area", "rect", "100,100,300,200"});
    parser.addOption({"title", "window title", "title", "Target"});
    parser.addOption({"color", "fill colour", "color", "#c8c8c8"});
    parser.addOption({"hotkey", "a global hotkey to hold", "key"});
    parser.process(app);

    const QStringList g = parser.value("rect").split(',');
    TargetWindow window {QColor(parser.value("color"))};
    window.setWindowTitle(parser.value("title"));
    window.setGeometry(g.value(0).toInt(), g.value(1).toInt(), g.value(2).toInt(),
                       g.value(3).toInt());

    std::unique_ptr<SCGlobalHotkey> hotkey;
    if (parser.isSet("hotkey")) {
        hotkey = std::make_unique<SCGlobalHotkey>(QKeySequence(parser.value("hotkey")), true);
        say(QStringLiteral("hotkey %1").arg(hotkey->isRegistered() ? 1 : 0));
        QObject::connect(hotkey.get(), &SCGlobalHotkey::activated, [] { say("activated"); });
    }

    window.show();
    // Ready once the window manager has framed and placed the window.
    auto *poll = new QTimer(&app);
    int tries = 0;
    QObject::connect(poll, &QTimer::timeout, [&] {
        const bool framed = window.frameGeometry() != window.geometry();
        // A window manager still starting up on a busy machine may take a while.
        if ((window.windowHandle()->isExposed() && framed) || ++tries > 600) {
            poll->stop();
            say(QStringLiteral("ready %1 %2 %3")
                        .arg(rectText(window.frameGeometry()), rectText(window.geometry()))
                        .arg(window.winId()));
        }
    });
    poll->start(50);
    return app.exec();
}
