#pragma once

#include <QHash>
#include <QTranslator>

// Interface texts in nine languages, looked up by their English source text in
// key/value files compiled in under ":/locales/". Contexts are ignored: all windows
// share one key space.
class SCTranslator : public QTranslator
{
    Q_OBJECT

public:
    explicit SCTranslator(QObject *parent = nullptr);

    bool load(const QString &localeCode);

    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override;

private:
    QHash<QString, QString> m_translations;
};
