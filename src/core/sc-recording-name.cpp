#include "sc-recording-name.h"

#include <QFileInfo>

QString SCRecordingName::generated(const QDateTime &when)
{
    return QStringLiteral("Recording_") + when.toString(QStringLiteral("yyyy_MM_dd_HH-mm-ss"));
}

QString SCRecordingName::sanitize(const QString &typed)
{
    QString name;
    name.reserve(typed.size());
    for (const QChar c : typed) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control
            || c.category() == QChar::Other_Format || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            name += QLatin1Char('_');
        else
            name += c;
    }
    name = name.trimmed();
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    name = name.trimmed();
    // File systems count bytes; leave room for a counter and the extension.
    if (name.toUtf8().size() > MAX_NAME_BYTES) {
        name.truncate(MAX_NAME_BYTES);
        if (name.back().isHighSurrogate())
            name.chop(1);
        while (name.toUtf8().size() > MAX_NAME_BYTES)
            name.chop(name.back().isLowSurrogate() ? 2 : 1);
        name = name.trimmed();
    }
    return name;
}

QString SCRecordingName::uniqueBase(const QString &folder, const QString &name,
                                    const QString &extension)
{
    const QString base = folder + QLatin1Char('/') + name;
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate + QLatin1Char('.') + extension); ++n)
        candidate = QStringLiteral("%1 (%2)").arg(base).arg(n);
    return candidate;
}
