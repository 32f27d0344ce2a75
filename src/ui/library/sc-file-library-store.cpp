#include "sc-file-library-store.h"

#include "sc-logger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtDebug>

namespace {

const QString DATA_FILE_NAME = QStringLiteral("file_data.json");

// Why the document cannot be a library, or an empty string when it can.
QString shapeProblem(const QJsonDocument &document)
{
    if (!document.isArray())
        return QStringLiteral("the top level is not an array");
    const QJsonArray entries = document.array();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonValue entry = entries.at(i);
        if (!entry.isObject())
            return QStringLiteral("entry %1 is not an object").arg(i);
        const QJsonObject object = entry.toObject();
        if (!object.value(QStringLiteral("filepath")).isString())
            return QStringLiteral("entry %1 has no \"filepath\" string").arg(i);
        const QJsonValue properties = object.value(QStringLiteral("properties"));
        if (!properties.isUndefined() && !properties.isObject())
            return QStringLiteral("entry %1 has \"properties\" that are not an object").arg(i);
    }
    return QString();
}

} // namespace

QString SCFileLibraryStore::path() const
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return QDir(dir).filePath(DATA_FILE_NAME);
}

SCFileLibraryStore::Loaded SCFileLibraryStore::load()
{
    Loaded loaded;
    const QString file = path();
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        qDebug() << "Could not open file for reading:" << file;
        return loaded;
    }
    const QByteArray content = input.readAll();
    input.close();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parseError);
    const QString problem = parseError.error != QJsonParseError::NoError
            ? QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset)
            : shapeProblem(document);
    if (!problem.isEmpty()) {
        // Kept for repair instead of letting the next save overwrite it.
        loaded.damaged = true;
        loaded.damagedCopy = keepAside(problem);
        m_blocked = loaded.damagedCopy.isEmpty();
        return loaded;
    }

    QJsonArray kept;
    bool pruned = false;
    for (const QJsonValue &entry : document.array()) {
        const QJsonObject object = entry.toObject();
        FileData data;
        data.filepath = object.value(QStringLiteral("filepath")).toString();
        data.properties = object.value(QStringLiteral("properties")).toObject().toVariantMap();
        if (QFileInfo::exists(data.filepath)) {
            loaded.files.append(data);
            kept.append(entry);
        } else {
            pruned = true;
        }
    }
    if (pruned && !write(QJsonDocument(kept).toJson(QJsonDocument::Indented))) {
        qDebug() << "Could not open file for writing:" << file;
        return loaded;
    }
    loaded.ok = true;
    return loaded;
}

bool SCFileLibraryStore::save(const QList<FileData> &files)
{
    QJsonArray entries;
    for (const FileData &data : files)
        entries.append(data.toJson());
    return write(QJsonDocument(entries).toJson(QJsonDocument::Indented));
}

QString SCFileLibraryStore::keepAside(const QString &reason)
{
    const QString file = path();
    const QString aside = file + QStringLiteral(".broken-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = aside;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = aside + QLatin1Char('-') + QString::number(n);
    if (QFile::rename(file, target) || QFile::copy(file, target)) {
        SCLogger::instance()->warning(
                QStringLiteral("File library %1 is unreadable (%2); kept as %3, starting empty")
                        .arg(file, reason, target));
        return target;
    }
    SCLogger::instance()->error(
            QStringLiteral("File library %1 is unreadable (%2) and could not be kept aside; "
                           "it will not be overwritten in this run")
                    .arg(file, reason));
    return QString();
}

bool SCFileLibraryStore::write(const QByteArray &json)
{
    if (m_blocked)
        return false;
    // Written beside the library and renamed over it: an interrupted save leaves the old one.
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(json) != json.size() || !file.flush()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}
