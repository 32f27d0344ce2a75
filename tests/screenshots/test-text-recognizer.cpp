#include "sc-text-recognizer.h"
#include "test-home.h"

#include <QApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <memory>

namespace {

const QString ENGLISH = QStringLiteral("The quick brown fox jumps over the lazy dog near the river "
                                       "bank, and 42 people watch it happen.");

// Text as a screenshot shows it: black on white at screen size, or a dark theme's small print.
QImage rendered(const QString &text, bool smallOnDark = false)
{
    QImage image(800, 200, QImage::Format_RGB32);
    image.fill(smallOnDark ? QColor(40, 40, 46) : QColor(Qt::white));
    QPainter painter(&image);
    painter.setPen(smallOnDark ? QColor(220, 220, 220) : QColor(Qt::black));
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(smallOnDark ? 9 : 18);
    painter.setFont(font);
    painter.drawText(image.rect().adjusted(20, 20, -20, -20), Qt::TextWordWrap, text);
    return image;
}

QStringList words(const QString &text)
{
    static const QRegularExpression gaps(QStringLiteral("[^\\p{L}\\p{N}]+"));
    return text.toLower().split(gaps, Qt::SkipEmptyParts);
}

} // namespace

class TestTextRecognizer : public QObject
{
    Q_OBJECT

    // What the recognizer reads in `image`, or why it could not.
    QString read(const QImage &image, const QString &locale)
    {
        SCTextRecognizer recognizer;
        QSignalSpy finished(&recognizer, &SCTextRecognizer::finished);
        QSignalSpy failed(&recognizer, &SCTextRecognizer::failed);
        recognizer.recognize(image, locale);
        if (!QTest::qWaitFor([&] { return !recognizer.isBusy(); }, 60000))
            return QStringLiteral("<still reading>");
        return failed.isEmpty() ? finished.value(0).value(0).toString()
                                : "<failed: " + failed[0][0].toString();
    }

private slots:
    void readsScreenText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<bool>("smallOnDark");
        QTest::newRow("English") << "en_US" << ENGLISH << false;
        QTest::newRow("German") << "de_DE"
                                << "Der Bär läuft über die Brücke, während fünf große Äpfel "
                                   "vom Baum fallen."
                                << false;
        QTest::newRow("Japanese") << "ja_JP"
                                  << "日本語の文章を読みます" << false;
        QTest::newRow("small on dark") << "en_US" << ENGLISH << true;
        QTest::newRow("empty") << "en_US"
                               << "" << false;
    }

    void readsScreenText()
    {
        QFETCH(QString, locale);
        QFETCH(QString, sentence);
        QFETCH(bool, smallOnDark);
        const QString text = read(rendered(sentence, smallOnDark), locale);
        QCOMPARE(words(text), words(sentence));
        QCOMPARE(text.isEmpty(), sentence.isEmpty());
    }

    void fallsBackToEnglish()
    {
        QCOMPARE(SCTextRecognizer::languagesFor("de_DE"), "deu+eng");
        QCOMPARE(SCTextRecognizer::languagesFor("zh_TW"), "chi_tra+eng");
        QCOMPARE(SCTextRecognizer::languagesFor("zh_CN"), "chi_sim+eng");
        QCOMPARE(SCTextRecognizer::languagesFor("en_US"), "eng");

        QTemporaryDir packs;
        qputenv("TESSDATA_PREFIX", packs.path().toLocal8Bit());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\"eng\""));
        QCOMPARE(read(rendered(ENGLISH), "en_US").left(9), "<failed: ");
        QVERIFY(QFile::link("/usr/share/tesseract-ocr/5/tessdata/eng.traineddata",
                            packs.filePath("eng.traineddata")));
        // Told once, and German pictures are read in English.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\"deu\""));
        QTest::failOnWarning(QRegularExpression("."));
        QCOMPARE(SCTextRecognizer::languagesFor("de_DE"), "eng");
        QCOMPARE(words(read(rendered(ENGLISH), "de_DE")), words(ENGLISH));
        qunsetenv("TESSDATA_PREFIX");
    }

    void survivesDeletionWhileReading()
    {
        auto recognizer = std::make_unique<SCTextRecognizer>();
        recognizer->recognize(rendered(ENGLISH.repeated(8)).scaled(1600, 400), "de_DE");
        QVERIFY(recognizer->isBusy());
        recognizer.reset();
        QTRY_COMPARE_WITH_TIMEOUT(QThreadPool::globalInstance()->activeThreadCount(), 0, 60000);
    }
};

int main(int argc, char **argv)
{
    TestHome home;
    QApplication app(argc, argv);
    TestTextRecognizer test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-text-recognizer.moc"
