#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

// Keeps the addresses the program asks the desktop to open, instead of starting a browser or
// a file manager, for as long as it lives.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    explicit UrlCatcher(const QStringList &schemes
                        = {QStringLiteral("http"), QStringLiteral("https")});
    ~UrlCatcher() override;

    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url);

private:
    QStringList m_schemes;
};
