#pragma once

#include <QHash>
#include <QTranslator>

#include <memory>

// Interface texts in nine languages, looked up by their English source text in
// key/value files compiled in under ":/locales/". Contexts are ignored: all windows
// share one key space. Texts of Qt's own dialogs and standard buttons that the files do
// not hold come from Qt's translations for the same language, where the system has them.
class SCTranslator : public QTranslator
{
    Q_OBJECT

public:
    explicit SCTranslator(QObject *parent = nullptr);

    bool load(const QString &localeCode);

    QString translate(const char *context, const char *sourceText,
                      const char *disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override;

    // Whether Qt's own translations for the loaded language were found.
    bool hasQtTranslations() const;

private:
    void loadQtTranslations(const QString &localeCode);

    QHash<QString, QString> m_translations;
    std::unique_ptr<QTranslator> m_qtTranslations;
};
