// The program as an installation leaves it: this build installed into a private prefix and
// checked with the desktop's own validators, the installed binary recording from there, and
// the Debian package built from this build and unpacked.

#include "desktop-input.h"
#include "media-probe.h"
#include "sc-settings.h"

#include <QDirIterator>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString ID = QStringLiteral("org.ombrant.Vistrel");
const int ICON_SIZES[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};

struct Run
{
    int status = -1;
    QString output;
};

// A tool run to its end; standard output and error together, for the failure message.
Run run(const QString &program, const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, QStringLiteral("%1 did not finish").arg(program)};
    }
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {status, QString::fromUtf8(process.readAll())};
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void installsTheDesktopFiles();
    void installedProgramRecords();
    void packageHoldsTheInstallation();

private:
    // Every installed file in its place, the icons at their sizes, the service starting the
    // binary of this prefix.
    void checkLayout(const QString &root, const QString &prefix);
    QString programLog() const;

    QTemporaryDir m_prefix;
    QTemporaryDir m_home;
    QProcess m_program;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid() && m_home.isValid());
    const Run install = run("cmake", {"--install", VISTREL_BUILD_DIR, "--prefix", m_prefix.path()});
    QVERIFY2(install.status == 0, qPrintable(install.output));
}

void TestInstall::cleanup()
{
    if (m_program.state() == QProcess::NotRunning)
        return;
    m_program.terminate();
    if (!m_program.waitForFinished(15000)) {
        m_program.kill();
        m_program.waitForFinished();
    }
}

void TestInstall::checkLayout(const QString &root, const QString &prefix)
{
    const QString base = root + prefix;
    for (const QString &file : QStringList {
                 "bin/vistrel", "lib/vistrel/obs-plugins/vistrel-output.so",
                 "lib/vistrel/obs-plugins/vistrel-mouse-effects.so",
                 "lib/vistrel/vistrel-null-graphics.so",
                 "share/icons/hicolor/scalable/apps/" + ID + ".svg", "share/man/man1/vistrel.1.gz",
                 "share/doc/vistrel/copyright", "share/doc/vistrel/changelog.gz"})
        QVERIFY2(QFileInfo::exists(base + "/" + file), qPrintable(file + " is missing"));
    QVERIFY(QFileInfo(base + "/bin/vistrel").isExecutable());
    for (int size : ICON_SIZES) {
        const QString icon = QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/%3.png")
                                     .arg(base)
                                     .arg(size)
                                     .arg(ID);
        QCOMPARE(QImage(icon).size(), QSize(size, size));
    }
    const QString service = readText(base + "/share/dbus-1/services/" + ID + ".service");
    QVERIFY2(service.contains("\nExec=" + prefix + "/bin/vistrel\n"), qPrintable(service));
}

// The validators pass on what is installed, and the newest release the metadata names is this
// build's version.
void TestInstall::installsTheDesktopFiles()
{
    checkLayout(QString(), m_prefix.path());
    if (QTest::currentTestFailed())
        return;
    const QString share = m_prefix.filePath("share");
    const Run desktop = run("desktop-file-validate", {share + "/applications/" + ID + ".desktop"});
    QVERIFY2(desktop.status == 0 && !desktop.output.contains("error:"), qPrintable(desktop.output));
    // The tree check also finds the menu entry that the metadata launches.
    const Run appstream = run("appstreamcli", {"validate-tree", "--no-net", m_prefix.path()});
    QVERIFY2(appstream.status == 0, qPrintable(appstream.output));

    const QString metainfo = readText(share + "/metainfo/" + ID + ".metainfo.xml");
    const QRegularExpression newest(QStringLiteral("<release version=\"([^\"]+)\""));
    QCOMPARE(newest.match(metainfo).captured(1), QStringLiteral(VISTREL_VERSION));
}

QString TestInstall::programLog() const
{
    QString text;
    QDirIterator it(m_home.filePath(".local/share/Ombrant/Vistrel/logs"), {"*.log"}, QDir::Files);
    while (it.hasNext())
        text += readText(it.next());
    return text;
}

// Started from the prefix with nothing but a home, the binary finds its own modules there,
// logs into the home's data folder and records from the hotkey.
void TestInstall::installedProgramRecords()
{
    QSettings settings(m_home.filePath(".config/") + SCSettings::ORGANIZATION + "/"
                               + SCSettings::APPLICATION + ".conf",
                       QSettings::IniFormat);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::RECORDING_FORMAT, "MP4");
    settings.setValue(SCSettings::RECORDING_SCREEN_SWITCH, true);
    settings.sync();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_home.path());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        env.remove(name);
    m_program.setProcessEnvironment(env);
    m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_program.setStandardOutputFile(QProcess::nullDevice());
    m_program.start(m_prefix.filePath("bin/vistrel"), {});
    QVERIFY(m_program.waitForStarted());
    QVERIFY2(QTest::qWaitFor([&] { return programLog().contains("OBS initialized successfully"); },
                             30000),
             qPrintable(programLog()));
    const QString ownFolder = QFileInfo(m_prefix.filePath("lib/vistrel")).canonicalFilePath();
    QVERIFY2(programLog().contains("The program's own modules are in " + ownFolder + "\n"),
             qPrintable(programLog()));
    QVERIFY(programLog().contains("All OBS modules loaded successfully"));

    // Countdown, about two seconds of recording, and the stop.
    QTimer::singleShot(0, [] { xdotool({"key", "F9"}); });
    QVERIFY2(QTest::qWaitFor([&] { return programLog().contains("Recording started..."); }, 20000),
             "the hotkey did not start a recording");
    QTest::qWait(2000);
    QTimer::singleShot(0, [] { xdotool({"key", "F9"}); });
    QVERIFY2(
            QTest::qWaitFor([&] { return programLog().contains("Showing the Files page"); }, 20000),
            "the recording did not end");
    const QFileInfoList files
            = QDir(m_home.filePath("Videos/Vistrel")).entryInfoList({"*.mp4"}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const MediaProbe probe(files.first().filePath());
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    QVERIFY2(probe.streamSummary().startsWith("video,"), qPrintable(probe.streamSummary()));
    QVERIFY(MediaProbe::decodedDuration(files.first().filePath()) > 1.0);
}

// The package of this build: lintian finds no error, it unpacks to the same layout under /usr
// with stripped binaries, and its dependencies come from the libraries it links.
void TestInstall::packageHoldsTheInstallation()
{
    const Run build = run(VISTREL_SOURCE_DIR "/scripts/build-deb.sh", {VISTREL_BUILD_DIR}, 600000);
    qInfo().noquote() << build.output;
    QVERIFY2(build.status == 0, "scripts/build-deb.sh failed or lintian reported errors");
    const QString deb = build.output.trimmed().section('\n', -1);
    QVERIFY2(QFileInfo(deb).fileName().startsWith("vistrel_" VISTREL_VERSION "_"), qPrintable(deb));

    QTemporaryDir unpacked;
    QCOMPARE(run("dpkg", {"-x", deb, unpacked.path()}).status, 0);
    checkLayout(unpacked.path(), "/usr");
    if (QTest::currentTestFailed())
        return;
    const Run sections = run("readelf", {"-S", "-W", unpacked.filePath("usr/bin/vistrel")});
    QVERIFY2(sections.status == 0 && !sections.output.contains(".debug_info"),
             "the packaged program keeps its debugging information");

    const QString depends = run("dpkg-deb", {"-f", deb, "Depends"}).output;
    for (const char *package : {"libobs0", "obs-studio", "libqt6core6", "libqt6gui6",
                                "libqt6widgets6", "tesseract-ocr-eng"})
        QVERIFY2(QRegularExpression(QStringLiteral("(^|, )%1( |,|$)").arg(package))
                         .match(depends.trimmed())
                         .hasMatch(),
                 qPrintable(QStringLiteral("%1 not in Depends: %2").arg(package, depends)));
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestInstall test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-install.moc"
