#include "sc-logger.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstring>

namespace {

// The same executable, started again, logs as a fresh run would: argv[1] says how.
int childMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString path = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    SCLogger *logger = SCLogger::instance();
    if (!logger->initialize(mode == "--child-default" ? QString() : path))
        return 3;
    logger->info(QStringLiteral("child %1").arg(QCoreApplication::applicationPid()));
    fputs(qPrintable(logger->logFilePath() + '\n'), stdout);
    return 0;
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

const QRegularExpression LINE(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} - (.*)$)"));

struct Captured
{
    QtMsgType type;
    QString text;
};
QList<Captured> g_messages;
QtMessageHandler g_previous = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_messages.append({type, text});
    g_previous(type, context, text);
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void oneFileForTheRunWithLevelsAndEcho();
    void concurrentLinesStayWhole();
    void laterRunsAppendUseTheDefaultFolderOrFail();

private:
    QTemporaryDir m_dir;
    QString m_logPath;
};

void TestLogger::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_logPath = m_dir.filePath("a/b/c/run.log");
    g_previous = qInstallMessageHandler(capture);
}

void TestLogger::oneFileForTheRunWithLevelsAndEcho()
{
    g_messages.clear();
    SCLogger::instance()->info("too early");
    QCOMPARE(SCLogger::instance()->logFilePath(), QString());
    // Said on the console, so the line is not lost without a trace.
    QCOMPARE(g_messages.size(), 2);
    QVERIFY(g_messages[0].text.contains("too early"));
    QVERIFY(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

    // The first initialisation makes the folders and writes the header.
    QVERIFY(SCLogger::instance()->initialize(m_logPath));
    QCOMPARE(SCLogger::instance()->logFilePath(), m_logPath);
    const QStringList lines = readLines(m_logPath);
    QCOMPARE(lines.size(), 2);
    const auto first = LINE.match(lines[0]);
    const auto second = LINE.match(lines[1]);
    QVERIFY(first.hasMatch() && second.hasMatch());
    QCOMPARE(first.captured(1), QString("=== Application Started ==="));
    QCOMPARE(second.captured(1), "Log file initialized: " + m_logPath);
    QCOMPARE(lines[0].left(23), lines[1].left(23)); // one timestamp for both

    g_messages.clear();
    SCLogger *logger = SCLogger::instance();
    logger->debug("d1");
    logger->info("i1");
    logger->warning("x");
    logger->error("e1");
    logger->critical("c1");
    logger->logToConsole("console only");

    QStringList texts;
    for (const QString &line : readLines(m_logPath).mid(2))
        texts << LINE.match(line).captured(1);
    QCOMPARE(texts,
             QStringList({"Debug: d1", "Info: i1", "Warning: x", "Error: e1", "Critical: c1"}));

    // Each line is echoed on the console too, errors as errors.
    QCOMPARE(g_messages.size(), 6);
    QCOMPARE(g_messages[3].type, QtCriticalMsg);
    QVERIFY(g_messages[3].text.endsWith("e1"));
    QCOMPARE(g_messages[5].text, QString("console only"));

    // A second initialisation keeps the first file.
    const QString other = m_dir.filePath("other.log");
    QVERIFY(SCLogger::instance()->initialize(other));
    QVERIFY(SCLogger::instance()->initialize(QString()));
    QCOMPARE(SCLogger::instance()->logFilePath(), m_logPath);
    SCLogger::instance()->info("still here");
    QVERIFY(!QFile::exists(other));
    QVERIFY(readLines(m_logPath).last().endsWith("Info: still here"));
}

void TestLogger::concurrentLinesStayWhole()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    constexpr int THREADS = 8;
    constexpr int LINES = 400;
    const QString padding(200, QChar('x'));
    const int before = readLines(m_logPath).size();

    QList<QThread *> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads << QThread::create([t, padding] {
            for (int i = 0; i < LINES; ++i)
                SCLogger::instance()->info(
                        QStringLiteral("T%1 L%2 %3 end").arg(t).arg(i).arg(padding));
        });
    }
    for (QThread *thread : threads)
        thread->start();
    for (QThread *thread : threads) {
        thread->wait();
        delete thread;
    }
    qInstallMessageHandler(capture);

    const QStringList lines = readLines(m_logPath).mid(before);
    QCOMPARE(lines.size(), THREADS * LINES);
    const QRegularExpression whole(QStringLiteral(R"(^Info: T(\d) L(\d+) x{200} end$)"));
    QVector<int> next(THREADS, 0);
    QString previousTime;
    for (const QString &line : lines) {
        const auto m = LINE.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line.left(80)));
        const auto w = whole.match(m.captured(1));
        QVERIFY2(w.hasMatch(), qPrintable(line.left(80)));
        // Each thread's lines arrive in its own order, and time never runs backwards.
        const int t = w.captured(1).toInt();
        QCOMPARE(w.captured(2).toInt(), next[t]++);
        QVERIFY(line.left(23) >= previousTime);
        previousTime = line.left(23);
    }
}

// Fresh runs of this executable (see childMain).
void TestLogger::laterRunsAppendUseTheDefaultFolderOrFail()
{
    const auto run = [](QProcess &child, const QStringList &arguments) {
        child.start(QCoreApplication::applicationFilePath(), arguments);
        return child.waitForFinished(30000) ? child.exitCode() : -1;
    };
    // A later run appends to the same file, with a header of its own.
    const QString path = m_dir.filePath("shared.log");
    for (int i = 0; i < 2; ++i) {
        QProcess child;
        QCOMPARE(run(child, {"--child", path}), 0);
    }
    const QStringList lines = readLines(path);
    QCOMPARE(lines.size(), 6);
    QVERIFY(lines[0].endsWith("=== Application Started ==="));
    QVERIFY(lines[2].contains("Info: child "));
    QVERIFY(lines[3].endsWith("=== Application Started ==="));
    QVERIFY(lines[5].contains("Info: child "));

    // Without a path the log goes to the data folder, named after the start.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
    child.setProcessEnvironment(env);
    QCOMPARE(run(child, {"--child-default"}), 0);
    const QString defaultPath = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
    const QFileInfo info(defaultPath);
    QCOMPARE(info.absolutePath(), m_dir.filePath("data") + "/test-logger/logs");
    QVERIFY(QRegularExpression(R"(^screen-recorder_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.log$)")
                    .match(info.fileName())
                    .hasMatch());
    QCOMPARE(readLines(defaultPath).size(), 3);

    // A path that cannot be made fails, and says so.
    const QString blocker = m_dir.filePath("blocker");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QProcess blocked;
    QCOMPARE(run(blocked, {"--child", blocker + "/x/run.log"}), 3);
    QVERIFY(blocked.readAllStandardError().contains("Failed to open log file:"));
}

int main(int argc, char **argv)
{
    if (argc > 1 && strncmp(argv[1], "--child", 7) == 0)
        return childMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-logger.moc"
