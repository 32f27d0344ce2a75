#include "sc-text-recognizer.h"

#include "sc-settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLocale>
#include <QMutex>
#include <QPainter>
#include <QSet>
#include <QSettings>
#include <QtConcurrent>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>

#include <mutex>

namespace {

const QString ENGLISH = QStringLiteral("eng");
// Where Debian 12, Debian 11 and most other systems keep the language packs. TESSDATA_PREFIX
// overrides them and, as for Tesseract itself, names the folder of the packs.
const char *const DATA_FOLDERS[] = {
        "/usr/share/tesseract-ocr/5/tessdata",
        "/usr/share/tesseract-ocr/4.00/tessdata",
        "/usr/share/tessdata",
};
// Screen text is 10 to 16 px high, Tesseract reads best at about twice that; beyond about a
// full-HD screen the doubling costs more time than it wins.
constexpr qsizetype UPSCALE_UP_TO_PIXELS = 2'000'000;
// Tesseract guesses (and complains) without a resolution; this matches upscaled screen text.
constexpr char DPI[] = "300";

struct Outcome
{
    QString text;
    QString error;
};

QString dataFolder()
{
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        return prefix;
    for (const char *folder : DATA_FOLDERS)
        if (QFileInfo::exists(QDir(QString::fromLatin1(folder)).filePath(ENGLISH + ".traineddata")))
            return QString::fromLatin1(folder);
    return QString::fromLatin1(DATA_FOLDERS[0]);
}

bool hasPack(const QString &folder, const QString &language)
{
    return QFileInfo::exists(QDir(folder).filePath(language + QStringLiteral(".traineddata")));
}

void warnOnce(const QString &language, const QString &folder)
{
    static QMutex mutex;
    static QSet<QString> told;
    const QMutexLocker locker(&mutex);
    if (told.contains(folder + language))
        return;
    told.insert(folder + language);
    qWarning().noquote() << QStringLiteral(
                                    "No Tesseract language pack \"%1\" in %2 (Debian package "
                                    "tesseract-ocr-%3): text is read without it")
                                    .arg(language, folder, QString(language).replace('_', '-'));
}

// Tesseract writes progress and warnings to stderr, and Leptonica its own; failures reach the
// caller as a reason instead.
void quietLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setMsgSeverity(L_SEVERITY_NONE);
        tesseract::TessBaseAPI api;
        api.SetVariable("debug_file", "/dev/null");
    });
}

// Flat, grey, dark text on light ground and large enough: what Tesseract's models were
// trained on, where screens often have small, light-on-dark text.
QImage prepared(QImage image)
{
    image.setDevicePixelRatio(1.0);
    if (image.hasAlphaChannel()) {
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
        image = flat;
    }
    if (qsizetype(image.width()) * image.height() <= UPSCALE_UP_TO_PIXELS)
        image = image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(QImage::Format_Grayscale8);
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            sum += line[x];
    }
    if (sum < qint64(image.width()) * image.height() * 128)
        image.invertPixels();
    return image;
}

bool cancelRequested(void *cancelled, int)
{
    return static_cast<std::atomic_bool *>(cancelled)->load();
}

// Runs on a pool thread and owns everything it uses: the recognizer may be gone meanwhile.
Outcome readText(const QImage &image, const QString &languages, const QString &folder,
                 std::shared_ptr<std::atomic_bool> cancelled)
{
    quietLibraries();
    tesseract::TessBaseAPI api;
    if (api.Init(QFile::encodeName(folder).constData(), languages.toLatin1().constData(),
                 tesseract::OEM_LSTM_ONLY)
        != 0)
        return {QString(),
                QStringLiteral("Tesseract could not start with the language packs %1 in %2")
                        .arg(languages, folder)};
    // Screenshots hold columns, buttons and lone words: the full layout analysis, without
    // looking for rotated pages.
    api.SetPageSegMode(tesseract::PSM_AUTO);
    api.SetVariable("user_defined_dpi", DPI);
    const QImage grey = prepared(image);
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = cancelRequested;
    monitor.cancel_this = cancelled.get();
    if (api.Recognize(&monitor) != 0)
        return {QString(), QStringLiteral("Tesseract could not read the picture")};
    const std::unique_ptr<char[]> text(api.GetUTF8Text());
    return {QString::fromUtf8(text.get()).trimmed(), QString()};
}

} // namespace

SCTextRecognizer::SCTextRecognizer(QObject *parent)
    : QObject(parent)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{ }

SCTextRecognizer::~SCTextRecognizer()
{
    m_cancelled->store(true);
}

QString SCTextRecognizer::languagesFor(const QString &localeCode)
{
    const QLocale locale(localeCode);
    QStringList wanted;
    if (locale.language() == QLocale::Chinese)
        wanted << (locale.script() == QLocale::TraditionalChineseScript
                           ? QStringLiteral("chi_tra")
                           : QStringLiteral("chi_sim"));
    else if (locale.language() != QLocale::C && locale.language() != QLocale::English)
        wanted << QLocale::languageToCode(locale.language(), QLocale::ISO639Part2T);
    wanted << ENGLISH;

    const QString folder = dataFolder();
    QStringList present;
    for (const QString &language : std::as_const(wanted)) {
        if (hasPack(folder, language))
            present << language;
        else
            warnOnce(language, folder);
    }
    return present.join(QLatin1Char('+'));
}

void SCTextRecognizer::recognize(const QImage &image, const QString &localeCode)
{
    QString code = localeCode;
    if (code.isEmpty()) {
        const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        code = settings.value(SCSettings::GENERAL_LANGUAGE, QLocale::system().name()).toString();
    }
    const QString languages = languagesFor(code);
    QString error;
    if (image.isNull())
        error = QStringLiteral("There is no picture to read text from");
    else if (languages.isEmpty())
        error = QStringLiteral("No Tesseract language pack is installed in %1 (Debian package "
                               "tesseract-ocr-eng)")
                        .arg(dataFolder());
    ++m_running;
    auto *watcher = new QFutureWatcher<Outcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        --m_running;
        const Outcome outcome = watcher->result();
        watcher->deleteLater();
        // Last: a receiver may delete the recognizer.
        if (outcome.error.isEmpty())
            emit finished(outcome.text);
        else
            emit failed(outcome.error);
    });
    if (!error.isEmpty())
        watcher->setFuture(QtFuture::makeReadyFuture(Outcome {QString(), error}));
    else
        watcher->setFuture(
                QtConcurrent::run(readText, image, languages, dataFolder(), m_cancelled));
}

bool SCTextRecognizer::isBusy() const
{
    return m_running > 0;
}
