#include "sc-version.h"

#include <QVersionNumber>

namespace {

QVersionNumber parse(QString text)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1Char('v'), Qt::CaseInsensitive))
        text.remove(0, 1);
    qsizetype suffix = -1;
    const QVersionNumber number = QVersionNumber::fromString(text, &suffix);
    // "1.2.3-beta" or "1.2junk" is not a release we can rank.
    if (number.isNull() || suffix != text.size())
        return {};
    return number;
}

} // namespace

bool Vistrel::isNewerVersion(const QString &candidate, const QString &current)
{
    const QVersionNumber newer = parse(candidate);
    const QVersionNumber own = parse(current);
    if (newer.isNull() || own.isNull())
        return false;
    // "1.0" and "1.0.0" are the same release.
    return QVersionNumber::compare(newer.normalized(), own.normalized()) > 0;
}
