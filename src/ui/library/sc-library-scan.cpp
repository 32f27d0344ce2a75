#include "sc-library-scan.h"

#include "sc-types.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

// Dates with "-" or "_" between the parts: both spellings have been written.
const QString DATE_TIME = QStringLiteral("\\d{4}[-_]\\d{2}[-_]\\d{2}_\\d{2}-\\d{2}-\\d{2}");

bool isAudioExtension(const QString &extension)
{
    for (const auto &[format, name] : OUTPUT_FORMAT_STRINGS) {
        if (name.toLower() == extension)
            return isAudioOnlyFormat(format);
    }
    return false;
}

QString alternatives(const QStringList &names)
{
    QStringList lower;
    for (const QString &name : names)
        lower << QRegularExpression::escape(name.toLower());
    return lower.join(QLatin1Char('|'));
}

} // namespace

QString SCLibraryScan::typeOfName(const QString &fileName)
{
    static const QRegularExpression recording = [] {
        QStringList extensions;
        for (const auto &entry : OUTPUT_FORMAT_STRINGS)
            extensions << entry.second;
        // A name already taken gets " (2)", " (3)", ...
        return QRegularExpression(QStringLiteral("^Recording_%1( \\(\\d+\\))?\\.(%2)$")
                                          .arg(DATE_TIME, alternatives(extensions)));
    }();
    static const QRegularExpression screenshot = [] {
        QStringList extensions;
        for (const auto &entry : SCREENSHOT_FORMAT_STRINGS)
            extensions << entry.second;
        // Screenshots of the same second get "_2", "_3", ...
        return QRegularExpression(QStringLiteral("^Screenshot_%1(_\\d+)?\\.(%2)$")
                                          .arg(DATE_TIME, alternatives(extensions)));
    }();

    if (const QRegularExpressionMatch match = recording.match(fileName); match.hasMatch())
        return isAudioExtension(match.captured(2)) ? QStringLiteral("audio")
                                                   : QStringLiteral("video");
    if (screenshot.match(fileName).hasMatch())
        return QStringLiteral("screenshot");
    return QString();
}

QList<FileData> SCLibraryScan::programFiles(const QString &recordingFolder,
                                            const QString &screenshotFolder)
{
    QList<FileData> found;
    QSet<QString> seen;
    const auto scan = [&](const QString &folder, bool recordings) {
        if (folder.isEmpty())
            return;
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Readable);
        for (const QFileInfo &file : files) {
            const QString type = typeOfName(file.fileName());
            if (type.isEmpty() || (type == QLatin1String("screenshot")) == recordings)
                continue;
            const QString path = file.absoluteFilePath();
            if (seen.contains(path))
                continue;
            seen.insert(path);
            FileData data;
            data.filepath = path;
            data.properties.insert(QStringLiteral("type"), type);
            data.properties.insert(QStringLiteral("dateAdded"),
                                   file.lastModified().toString(Qt::ISODate));
            found.append(data);
        }
    };
    scan(recordingFolder, true);
    scan(screenshotFolder, false);
    std::stable_sort(found.begin(), found.end(), [](const FileData &a, const FileData &b) {
        return a.properties.value(QStringLiteral("dateAdded")).toString()
                > b.properties.value(QStringLiteral("dateAdded")).toString();
    });
    return found;
}
