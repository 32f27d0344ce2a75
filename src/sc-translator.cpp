#include "sc-translator.h"

#include <QDebug>
#include <QFile>
#include <QSettings>

SCTranslator::SCTranslator(QObject *parent)
    : QTranslator(parent)
{ }

bool SCTranslator::load(const QString &localeCode)
{
    const QString path = QStringLiteral(":/locales/%1.ini").arg(localeCode);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Translation file not found:" << path;
        return false;
    }
    file.close();

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        qDebug() << "Error reading translation file:" << path;
        return false;
    }

    m_translations.clear();
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys)
        m_translations.insert(key, settings.value(key).toString());
    return true;
}

QString SCTranslator::translate(const char *, const char *sourceText, const char *, int) const
{
    const QString source = QString::fromUtf8(sourceText);
    return m_translations.value(source, source);
}

bool SCTranslator::isEmpty() const
{
    // Qt skips translators that report themselves empty; this one always answers.
    return false;
}
