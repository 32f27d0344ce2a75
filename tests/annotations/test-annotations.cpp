#include "sc-annotation-document.h"
#include "sc-annotation-editor.h"
#include "sc-redaction-annotation.h"
#include "sc-text-annotation.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

namespace {

using Tool = SCAnnotation::Tool;
const QPointF ORIGIN(100, 100);
const QColor INK(0, 0, 255);

QImage blank(int width = 300, int height = 200)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// A mark of `tool` dragged from `from` to `to`, in global coordinates.
std::unique_ptr<SCAnnotation> drawn(Tool tool, QPointF from, QPointF to, bool filled = false,
                                    int thickness = 4)
{
    auto mark = SCAnnotation::create(tool, from, INK, thickness, filled);
    mark->dragTo(to, false);
    return mark;
}

bool isInk(const QImage &image, QPointF global)
{
    const QPoint p = (global - ORIGIN).toPoint();
    const QColor c = image.pixelColor(p);
    return c.blue() > 200 && c.red() < 80 && c.green() < 80;
}

bool isWhite(const QImage &image, QPointF global)
{
    return image.pixel((global - ORIGIN).toPoint()) == qRgb(255, 255, 255);
}

QImage rendered(std::unique_ptr<SCAnnotation> mark, const QImage &picture = blank())
{
    SCAnnotationDocument document;
    document.add(std::move(mark));
    return document.render(picture, ORIGIN);
}

} // namespace

class TestAnnotations : public QObject
{
    Q_OBJECT

private slots:
    void toolsPaintWhereTheyAreDrawn();
    void markerKeepsTextReadable();
    void stepsAreNumberedByTheirPlace();
    void historyRestoresEveryState();
    void redactionKeepsNoTraceOfTheOriginal();
    void devicePixelsAreSharp();
    void editorMovesRestylesAndDeletes();
};

void TestAnnotations::toolsPaintWhereTheyAreDrawn()
{
    QImage pen = rendered(drawn(Tool::Pen, {120, 150}, {220, 150}));
    QVERIFY(isInk(pen, {170, 150}));
    QVERIFY(isWhite(pen, {170, 160}));

    // Shift keeps a line at 45 degrees.
    auto line = SCAnnotation::create(Tool::Line, {120, 120}, INK, 4, false);
    line->dragTo({200, 197}, true);
    QImage lined = rendered(std::move(line));
    QVERIFY(isInk(lined, {190, 190}));
    QVERIFY(isWhite(lined, {160, 190}));

    // The arrow's head is wider than its shaft, at the release point only.
    QImage arrow = rendered(drawn(Tool::Arrow, {120, 200}, {320, 200}));
    QVERIFY(isInk(arrow, {308, 204}));
    QVERIFY(isInk(arrow, {308, 196}));
    QVERIFY(isWhite(arrow, {130, 205}));
    QVERIFY(isInk(arrow, {130, 200}));

    for (Tool shape : {Tool::Rectangle, Tool::Ellipse}) {
        QImage outline = rendered(drawn(shape, {150, 150}, {250, 250}));
        QVERIFY(isWhite(outline, {200, 200}));
        QVERIFY(isInk(outline, {150, 200}));
        QVERIFY(isWhite(outline, {140, 200}));
        QImage filled = rendered(drawn(shape, {150, 150}, {250, 250}, true));
        QVERIFY(isInk(filled, {200, 200}));
        QVERIFY(isWhite(filled, {140, 200}));
    }
    // A rectangle's corner is inside it, an ellipse's is not.
    QVERIFY(isInk(rendered(drawn(Tool::Rectangle, {150, 150}, {250, 250}, true)), {152, 152}));
    QVERIFY(isWhite(rendered(drawn(Tool::Ellipse, {150, 150}, {250, 250}, true)), {152, 152}));

    auto text = std::make_unique<SCTextAnnotation>(QPointF(120, 120), INK, 6);
    text->setText(QStringLiteral("Bug here\nand here"));
    const QRectF box = text->boundingRect();
    QImage texted = rendered(std::move(text));
    int inked = 0;
    for (int y = int(box.top()); y < int(box.bottom()); ++y)
        for (int x = int(box.left()); x < int(box.right()); ++x)
            inked += isInk(texted, {qreal(x), qreal(y)});
    QVERIFY2(inked > 100, qPrintable(QString::number(inked)));
    QVERIFY(box.height() > 2 * SCTextAnnotation::fontFor(6).pixelSize());
    QVERIFY(isWhite(texted, {box.right() + 5, box.top() + 5}));
}

void TestAnnotations::markerKeepsTextReadable()
{
    QImage page = blank();
    {
        QPainter painter(&page);
        painter.fillRect(QRect(50, 45, 100, 10), Qt::black);
    }
    const QColor yellow(255, 235, 59);
    auto marker = SCAnnotation::create(Tool::Marker, {140, 150}, yellow, 4, false);
    marker->dragTo({260, 150}, false);
    const QImage marked = rendered(std::move(marker), page);
    const QColor overText = marked.pixelColor(100, 50);
    const QColor overPaper = marked.pixelColor(100, 43);
    QVERIFY(overText.lightness() < yellow.lightness() / 2);
    QVERIFY(overPaper.lightness() < 250);
    QVERIFY(overPaper.blue() < overPaper.red() - 40);
    QVERIFY(overText.lightness() < overPaper.lightness() - 100);
}

void TestAnnotations::stepsAreNumberedByTheirPlace()
{
    SCAnnotationDocument document;
    for (int i = 0; i < 3; ++i)
        document.add(drawn(Tool::Step, {150.0 + 60 * i, 150}, {150.0 + 60 * i, 150}));
    QCOMPARE(document.stepNumber(0), 1);
    QCOMPARE(document.stepNumber(2), 3);
    const QImage three = document.render(blank(), ORIGIN);

    // Removing the first makes the others 1 and 2: the same picture as drawing them anew.
    document.remove(0);
    SCAnnotationDocument fresh;
    fresh.add(drawn(Tool::Step, {50, 50}, {210, 150}));
    fresh.add(drawn(Tool::Step, {50, 50}, {270, 150}));
    QCOMPARE(document.render(blank(), ORIGIN), fresh.render(blank(), ORIGIN));
    QVERIFY(document.render(blank(), ORIGIN) != three);
}

void TestAnnotations::historyRestoresEveryState()
{
    SCAnnotationDocument document;
    QList<QImage> states {document.render(blank(), ORIGIN)};
    const auto keep = [&] { states << document.render(blank(), ORIGIN); };
    document.add(drawn(Tool::Rectangle, {120, 120}, {200, 180}));
    keep();
    document.add(drawn(Tool::Arrow, {250, 120}, {350, 250}));
    keep();
    auto moved = document.at(0)->clone();
    moved->translate({40, 20});
    document.replace(0, std::move(moved), QStringLiteral("move"));
    keep();
    auto recoloured = document.at(1)->clone();
    recoloured->setColor(Qt::red);
    document.replace(1, std::move(recoloured), QStringLiteral("colour"));
    keep();
    document.remove(0);
    keep();
    document.clear();
    keep();
    QCOMPARE(document.count(), 0);

    QUndoStack *history = document.undoStack();
    for (int i = states.size() - 2; i >= 0; --i) {
        history->undo();
        QVERIFY2(document.render(blank(), ORIGIN) == states.at(i), qPrintable(QString::number(i)));
    }
    QVERIFY(!history->canUndo());
    for (int i = 1; i < states.size(); ++i) {
        history->redo();
        QVERIFY2(document.render(blank(), ORIGIN) == states.at(i), qPrintable(QString::number(i)));
    }
}

void TestAnnotations::redactionKeepsNoTraceOfTheOriginal()
{
    QImage noise(240, 240, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random.generate() | 0xff000000);

    for (Tool tool : {Tool::Pixelate, Tool::Blur}) {
        // Odd sizes: the last cells must not shrink to a few telling pixels.
        const QRect area(13, 17, 131, 97);
        SCAnnotationDocument document;
        // A mark under the redaction is hidden with the picture.
        document.add(drawn(Tool::Line, ORIGIN + QPointF(20, 60), ORIGIN + QPointF(130, 60)));
        document.add(
                drawn(tool, ORIGIN + area.topLeft(), ORIGIN + area.bottomRight() + QPointF(1, 1)));
        const QImage redacted = document.render(noise, ORIGIN);
        for (int y = area.top(); y + 4 <= area.bottom() + 1; ++y)
            for (int x = area.left(); x + 4 <= area.right() + 1; ++x)
                QVERIFY2(redacted.copy(x, y, 4, 4) != noise.copy(x, y, 4, 4),
                         qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                QVERIFY(!isInk(redacted, ORIGIN + QPointF(x, y)));
        // Outside, nothing changes.
        QCOMPARE(redacted.copy(0, 150, 240, 90), noise.copy(0, 150, 240, 90));
    }
    // A redaction smaller than a cell becomes one flat colour.
    SCAnnotationDocument small;
    small.add(drawn(Tool::Pixelate, ORIGIN + QPointF(50, 50), ORIGIN + QPointF(58, 56)));
    const QImage flat = small.render(noise, ORIGIN).copy(50, 50, 8, 6);
    for (int y = 0; y < flat.height(); ++y)
        for (int x = 0; x < flat.width(); ++x)
            QCOMPARE(flat.pixel(x, y), flat.pixel(0, 0));
}

void TestAnnotations::devicePixelsAreSharp()
{
    QImage picture(600, 400, QImage::Format_RGB32);
    picture.fill(Qt::white);
    picture.setDevicePixelRatio(2);
    SCAnnotationDocument document;
    document.add(drawn(Tool::Line, {120, 150.5}, {250, 150.5}, false, 1));
    document.add(drawn(Tool::Pixelate, {260, 110}, {290, 140}));
    const QImage result = document.render(picture, ORIGIN);
    QCOMPARE(result.size(), QSize(600, 400));
    QCOMPARE(result.devicePixelRatio(), 2.0);
    // One logical pixel is two device rows, fully inked.
    int rows = 0;
    for (int y = 90; y < 112; ++y)
        rows += result.pixel(200, y) == INK.rgb();
    QCOMPARE(rows, 2);
}

void TestAnnotations::editorMovesRestylesAndDeletes()
{
    SCAnnotationDocument document;
    SCAnnotationEditor editor(&document);
    editor.setTool(Tool::Rectangle);
    editor.setColor(INK);
    editor.press({120, 120}, Qt::NoModifier);
    editor.move({170, 200}, Qt::ShiftModifier);
    editor.release({170, 200}, Qt::ShiftModifier);
    QCOMPARE(document.count(), 1);
    // Shift made it a square on the longer side.
    QCOMPARE(document.at(0)->boundingRect().size(), QSizeF(83, 83));
    const QPointF before = document.at(0)->boundingRect().topLeft();
    // A click without a drag makes no rectangle.
    editor.press({300, 300}, Qt::NoModifier);
    editor.release({300, 300}, Qt::NoModifier);
    QCOMPARE(document.count(), 1);

    editor.setTool(Tool::Select);
    editor.press({122, 150}, Qt::NoModifier);
    editor.move({142, 160}, Qt::NoModifier);
    editor.release({152, 170}, Qt::NoModifier);
    QCOMPARE(editor.selectedIndex(), 0);
    QCOMPARE(document.at(0)->boundingRect().topLeft(), before + QPointF(30, 20));
    editor.setThickness(9);
    editor.setColor(Qt::red);
    QCOMPARE(document.at(0)->thickness(), 9);
    QCOMPARE(document.at(0)->color(), QColor(Qt::red));
    QVERIFY(editor.deleteSelected());
    QCOMPARE(document.count(), 0);
    // Delete, colour, thickness and move are four steps back to the square.
    for (int i = 0; i < 4; ++i)
        document.undoStack()->undo();
    QCOMPARE(document.at(0)->boundingRect().topLeft(), before);
    QCOMPARE(document.at(0)->color(), INK);

    // Typing a text mark, then emptying it removes it.
    editor.finishText(-1, {50, 50}, QStringLiteral("note"));
    QCOMPARE(document.count(), 2);
    editor.finishText(1, {50, 50}, QString());
    QCOMPARE(document.count(), 1);
}

QTEST_MAIN(TestAnnotations)
#include "test-annotations.moc"
