#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMainWindow>
#include <QNetworkReply>
#include <QUrl>

class QLabel;
class QNetworkAccessManager;
class QPushButton;
class QStackedWidget;
class QTextEdit;

// Says whether the maker has a newer release, from the update manifest, and opens its
// download page on request.
class SCUpgradeWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum Page { CheckingPage = 0, UpToDatePage = 1, UpgradeInfoPage = 2, CheckFailedPage = 3 };

    // What one request for the manifest came to.
    struct ManifestResult
    {
        enum class Failure { None, NoConnection, ServerError, BadManifest };
        Failure failure = Failure::None;
        int httpStatus = 0;
        // For the log: the network layer's or the parser's own words.
        QString detail;
        QJsonObject manifest;
    };

    // With an empty object the window fetches the manifest itself.
    SCUpgradeWindow(QWidget *parent, const QJsonObject &upgradeInfo);

    static QUrl manifestUrl();
    // Lets tests serve the manifest locally; the program never calls it.
    static void setManifestUrl(const QUrl &url);
    // Sends the GET and aborts it once the body grows past what a manifest can be.
    static QNetworkReply *requestManifest(QNetworkAccessManager *manager);
    // The reply's manifest, or why there is none: no connection, an error status from the
    // server, or a body that is no manifest with a release record.
    static ManifestResult readManifest(QNetworkReply *reply);
    // The reason as the user reads it, in the current language.
    static QString failureText(const ManifestResult &result);
    static constexpr qint64 MAX_MANIFEST_BYTES = 256 * 1024;

    void checkForUpdates();
    void parseUpgradeInfo(const QJsonObject &manifest);
    void showUpgradeInfo(const QString &version, const QString &size, const QString &date,
                         const QString &url, const QJsonArray &changes);

public Q_SLOTS:
    void onNetworkReplyFinished();
    void onNetworkError(QNetworkReply::NetworkError code);
    void on_closeBtn_clicked();
    void on_laterBtn_clicked();
    void on_upgradeBtn_clicked();
    void on_retryBtn_clicked();

protected:
private:
    void setupUi();
    void initUI();
    QWidget *buildUpgradeInfoPage();
    QWidget *buildCheckFailedPage();
    void showCheckFailed(const ManifestResult &result);

    QJsonObject m_upgradeInfo;
    QString m_downloadUrl;
    QNetworkAccessManager *m_networkManager = nullptr;

    QWidget *m_titleWidget = nullptr;
    QPushButton *m_closeBtn = nullptr;
    QStackedWidget *m_stackedWidget = nullptr;
    QLabel *m_currentVersionLabel = nullptr;
    QLabel *m_newVersionLabel = nullptr;
    QLabel *m_releaseDateLabel = nullptr;
    QLabel *m_sizeLabel = nullptr;
    QTextEdit *m_upgradeInfoTextEdit = nullptr;
    QLabel *m_failureReasonLabel = nullptr;
};
