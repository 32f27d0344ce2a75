#include "sc-crash-handler.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

// Crashes with names worth demangling; exported so that the report can name them.
namespace crashprobe {

__attribute__((noinline)) void writeThroughNull(volatile int *target)
{
    *target = 42;
}

__attribute__((noinline)) void callAbort(int reason)
{
    if (reason > 0)
        abort();
    // Keeps the return address of the abort call inside this function.
    fputs("not reached\n", stderr);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
#pragma GCC diagnostic ignored "-Wuse-after-free"
__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[512];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    return recurse(depth + 1) + frame[(depth + 1) % sizeof frame];
}

__attribute__((noinline)) void corruptHeap()
{
    // A double free: glibc aborts from inside the allocator.
    char *block = static_cast<char *>(malloc(64));
    free(block);
    free(block);
}
#pragma GCC diagnostic pop

} // namespace crashprobe

namespace {

int childMain(const char *kind, const char *directory)
{
    SCCrashHandler::setDumpDirectory(QString::fromLocal8Bit(directory));
    SCCrashHandler::initialize();
    if (strcmp(kind, "segv") == 0)
        crashprobe::writeThroughNull(nullptr);
    else if (strcmp(kind, "abort") == 0)
        crashprobe::callAbort(1);
    else if (strcmp(kind, "stack") == 0)
        return crashprobe::recurse(0);
    else if (strcmp(kind, "heap") == 0)
        crashprobe::corruptHeap();
    return 0;
}

QString g_self;

// Runs a crashing child and returns the signal that ended it, or -1.
int runChild(const QString &kind, const QString &directory)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const QByteArray self = g_self.toLocal8Bit();
        const QByteArray k = kind.toLocal8Bit();
        const QByteArray d = directory.toLocal8Bit();
        execl(self.constData(), self.constData(), "--crash", k.constData(), d.constData(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

} // namespace

class TestCrashHandler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fatalSignalLeavesReport_data();
    void fatalSignalLeavesReport();
    void demanglesOnlyParenthesisedNames();
};

void TestCrashHandler::fatalSignalLeavesReport_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("frame");
    QTest::newRow("null pointer") << "segv" << SIGSEGV
                                  << "crashprobe::writeThroughNull(int volatile*)";
    QTest::newRow("abort") << "abort" << SIGABRT << "crashprobe::callAbort(int)";
    QTest::newRow("stack overflow") << "stack" << SIGSEGV << "crashprobe::recurse(int)";
    QTest::newRow("inside the allocator") << "heap" << SIGABRT << "crashprobe::corruptHeap()";
}

void TestCrashHandler::fatalSignalLeavesReport()
{
    QFETCH(QString, kind);
    QFETCH(int, signal);
    QFETCH(QString, frame);

    QTemporaryDir dir;
    const QString logs = dir.filePath("nested/logs");
    QCOMPARE(runChild(kind, logs), signal);

    const QStringList reports = QDir(logs).entryList(QDir::Files);
    QCOMPARE(reports.size(), 1);
    QVERIFY2(QRegularExpression(R"(^crash_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.log$)")
                     .match(reports[0])
                     .hasMatch(),
             qPrintable(reports[0]));
    // The report is named after the local time of the crash.
    const QDateTime named = QDateTime::fromString(reports[0].mid(6, 19), "yyyy-MM-dd_HH-mm-ss");
    QVERIFY(qAbs(named.secsTo(QDateTime::currentDateTime())) < 120);

    QFile file(QDir(logs).filePath(reports[0]));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    const QStringList lines = text.split('\n');
    QCOMPARE(lines[0], QStringLiteral("Crash detected! Signal: %1").arg(signal));
    QCOMPARE(lines[1], QString());
    QCOMPARE(lines[2], QString("Backtrace:"));
    QVERIFY(lines.size() > 4);
    for (int i = 3; i < lines.size() - 1; ++i)
        QVERIFY2(lines[i].startsWith(QStringLiteral("#%1: ").arg(i - 3)), qPrintable(lines[i]));
    QVERIFY2(text.contains(frame), qPrintable(text.left(2000)));
}

void TestCrashHandler::demanglesOnlyParenthesisedNames()
{
    QCOMPARE(SCCrashHandler::demangleSymbolLine("./app(_ZN3foo3barEi+0x1a) [0x55d0]"),
             QByteArray("./app(foo::bar(int)+0x1a) [0x55d0]"));
    QCOMPARE(SCCrashHandler::demangleSymbolLine("/lib/libc.so.6(+0x3bfd0) [0x7f00]"),
             QByteArray("/lib/libc.so.6(+0x3bfd0) [0x7f00]"));
    QCOMPARE(SCCrashHandler::demangleSymbolLine("/lib/libc.so.6(abort+0x12) [0x7f00]"),
             QByteArray("/lib/libc.so.6(abort+0x12) [0x7f00]"));
    QCOMPARE(SCCrashHandler::demangleSymbolLine("[0x7f00]"), QByteArray("[0x7f00]"));
    QCOMPARE(SCCrashHandler::demangleSymbolLine("3 app 0x1000 _ZN3foo3barEi + 12"),
             QByteArray("3 app 0x1000 _ZN3foo3barEi + 12"));
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--crash") == 0)
        return childMain(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    g_self = QCoreApplication::applicationFilePath();
    TestCrashHandler test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-crash-handler.moc"
