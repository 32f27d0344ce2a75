#include "sc-translator.h"

#include <QDebug>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
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
    loadQtTranslations(localeCode);
    return true;
}

void SCTranslator::loadQtTranslations(const QString &localeCode)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // Qt ships Brazilian Portuguese only; for its buttons and file dialog that is far closer
    // than English.
    const QString code
            = localeCode == QLatin1String("pt_PT") ? QStringLiteral("pt_BR") : localeCode;
    // English needs none, and a failed load must not keep the previous language's texts.
    m_qtTranslations = std::make_unique<QTranslator>();
    if (code.startsWith(QLatin1String("en")))
        return;
    if (!m_qtTranslations->load(QLocale(code), QStringLiteral("qtbase"), QStringLiteral("_"),
                                folder))
        qDebug() << "No Qt translations for" << localeCode << "in" << folder;
}

bool SCTranslator::hasQtTranslations() const
{
    return m_qtTranslations && !m_qtTranslations->isEmpty();
}

QString SCTranslator::translate(const char *context, const char *sourceText,
                                const char *disambiguation, int n) const
{
    const QString source = QString::fromUtf8(sourceText);
    const auto own = m_translations.constFind(source);
    if (own != m_translations.constEnd())
        return own.value();
    const QString qt = m_qtTranslations
            ? m_qtTranslations->translate(context, sourceText, disambiguation, n)
            : QString();
    return qt.isEmpty() ? source : qt;
}

bool SCTranslator::isEmpty() const
{
    // Qt skips translators that report themselves empty; this one always answers.
    return false;
}
