#include "sc-upgrade-window.h"

#include "sc-dialog-title-bar.h"
#include "sc-frameless-window-agent.h"
#include "sc-logger.h"
#include "sc-version.h"

#include <QDebug>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTextStream>
#include <QVBoxLayout>

namespace {

QUrl &manifestAddress()
{
    static QUrl url(QStringLiteral("https://www.ombrant.com/vistrel/update.json"));
    return url;
}

} // namespace

QUrl SCUpgradeWindow::manifestUrl()
{
    return manifestAddress();
}

void SCUpgradeWindow::setManifestUrl(const QUrl &url)
{
    manifestAddress() = url;
}

QNetworkReply *SCUpgradeWindow::requestManifest(QNetworkAccessManager *manager)
{
    QNetworkRequest request(manifestUrl());
    request.setTransferTimeout(15000);
    QNetworkReply *reply = manager->get(request);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply](qint64 received, qint64 total) {
                         if (received > MAX_MANIFEST_BYTES || total > MAX_MANIFEST_BYTES) {
                             reply->setProperty("tooLarge", true);
                             reply->abort();
                         }
                     });
    return reply;
}

SCUpgradeWindow::ManifestResult SCUpgradeWindow::readManifest(QNetworkReply *reply)
{
    ManifestResult result;
    const auto fail = [&result](ManifestResult::Failure failure, const QString &detail) {
        result.failure = failure;
        result.detail = detail;
        return result;
    };
    if (reply->property("tooLarge").toBool()) {
        return fail(ManifestResult::Failure::BadManifest,
                    QStringLiteral("larger than %1 bytes").arg(MAX_MANIFEST_BYTES));
    }
    // A server that answers with an error status did answer: that is not a missing network.
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (result.httpStatus >= 400) {
        return fail(ManifestResult::Failure::ServerError,
                    QStringLiteral("HTTP %1 %2")
                            .arg(result.httpStatus)
                            .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute)
                                         .toString()));
    }
    if (reply->error() != QNetworkReply::NoError)
        return fail(ManifestResult::Failure::NoConnection, reply->errorString());
    const QByteArray body = reply->read(MAX_MANIFEST_BYTES + 1);
    if (body.size() > MAX_MANIFEST_BYTES) {
        return fail(ManifestResult::Failure::BadManifest,
                    QStringLiteral("larger than %1 bytes").arg(MAX_MANIFEST_BYTES));
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (document.isNull())
        return fail(ManifestResult::Failure::BadManifest, error.errorString());
    const QJsonValue release = document.object().value(QStringLiteral("win"));
    if (!document.isObject() || !release.isObject()
        || release.toObject().value(QStringLiteral("version")).toString().isEmpty()) {
        return fail(ManifestResult::Failure::BadManifest,
                    QStringLiteral("no release record with a version"));
    }
    result.manifest = document.object();
    return result;
}

QString SCUpgradeWindow::failureText(const ManifestResult &result)
{
    switch (result.failure) {
    case ManifestResult::Failure::None:
        return {};
    case ManifestResult::Failure::NoConnection:
        return tr("There is no connection to the update server.");
    case ManifestResult::Failure::ServerError:
        return tr("The update server answered with an error (HTTP %1).").arg(result.httpStatus);
    case ManifestResult::Failure::BadManifest:
        break;
    }
    return tr("The update information from the server cannot be read.");
}

SCUpgradeWindow::SCUpgradeWindow(QWidget *parent, const QJsonObject &upgradeInfo)
    : QMainWindow(parent)
    , m_upgradeInfo(upgradeInfo)
{
    setupUi();
    initUI();
    if (m_upgradeInfo.isEmpty())
        checkForUpdates();
    else
        parseUpgradeInfo(m_upgradeInfo);
}

void SCUpgradeWindow::setupUi()
{
    setObjectName(QStringLiteral("SCUpgradeWindow"));
    setWindowTitle(tr("Upgrade"));
    // A thin frame of its own sets the window off from the main window it covers.
    setContentsMargins(1, 1, 1, 1);
    // Clearly lower than the main window it is centred on, so no thin strip of it shows.
    setFixedSize(460, 300);

    const SCDialogTitleBar title
            = SCDialogTitleBar::createFrame(tr("Upgrade"), "upgradeLabel", this);
    QWidget *central = title.central;
    QVBoxLayout *root = title.column;
    m_titleWidget = title.bar;
    m_closeBtn = title.closeButton;

    m_stackedWidget = new QStackedWidget(central);
    m_stackedWidget->setObjectName(QStringLiteral("stackedWidget"));

    auto *checkPage = new QWidget;
    checkPage->setObjectName(QStringLiteral("checkUpgradePage"));
    auto *checkLayout = new QVBoxLayout(checkPage);
    auto *checkingLabel = new QLabel(tr("Waiting for checking..."), checkPage);
    checkingLabel->setObjectName(QStringLiteral("checkingLabel"));
    checkingLabel->setAlignment(Qt::AlignCenter);
    checkLayout->addWidget(checkingLabel);
    m_stackedWidget->addWidget(checkPage);

    auto *upToDatePage = new QWidget;
    upToDatePage->setObjectName(QStringLiteral("updateToDatePage"));
    auto *upToDateLayout = new QVBoxLayout(upToDatePage);
    upToDateLayout->addStretch();
    auto *upToDateLabel = new QLabel(tr("The current version is up to date."), upToDatePage);
    upToDateLabel->setObjectName(QStringLiteral("label_3"));
    upToDateLabel->setAlignment(Qt::AlignCenter);
    upToDateLayout->addWidget(upToDateLabel);
    auto *versionRow = new QHBoxLayout;
    versionRow->addStretch();
    auto *versionTitle = new QLabel(tr("Version:"), upToDatePage);
    versionTitle->setObjectName(QStringLiteral("label_2"));
    m_currentVersionLabel = new QLabel(Vistrel::version(), upToDatePage);
    m_currentVersionLabel->setObjectName(QStringLiteral("currentVersionLabel"));
    versionRow->addWidget(versionTitle);
    versionRow->addWidget(m_currentVersionLabel);
    versionRow->addStretch();
    upToDateLayout->addLayout(versionRow);
    upToDateLayout->addStretch();
    m_stackedWidget->addWidget(upToDatePage);

    m_stackedWidget->addWidget(buildUpgradeInfoPage());
    m_stackedWidget->addWidget(buildCheckFailedPage());
    root->addWidget(m_stackedWidget, 1);
    setCentralWidget(central);

    auto *agent = new SCFramelessWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(m_titleWidget);
    agent->setHitTestVisible(m_closeBtn);
    connect(m_closeBtn, &QPushButton::clicked, this, &SCUpgradeWindow::on_closeBtn_clicked);
}

QWidget *SCUpgradeWindow::buildUpgradeInfoPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("upgradeInfoPage"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 12, 20, 12);

    auto *basicInfo = new QWidget(page);
    basicInfo->setObjectName(QStringLiteral("basicInfoWidget"));
    auto *form = new QFormLayout(basicInfo);
    form->setContentsMargins(0, 0, 0, 0);
    const auto addRow = [basicInfo, form](const char *titleName, const QString &title,
                                          const char *valueName) {
        auto *titleLabel = new QLabel(title, basicInfo);
        titleLabel->setObjectName(QString::fromLatin1(titleName));
        auto *valueLabel = new QLabel(basicInfo);
        valueLabel->setObjectName(QString::fromLatin1(valueName));
        form->addRow(titleLabel, valueLabel);
        return valueLabel;
    };
    m_newVersionLabel = addRow("label_10", tr("Version:"), "newVersionLabel");
    m_releaseDateLabel = addRow("label_4", tr("Release Date:"), "releaseDateLabel");
    m_sizeLabel = addRow("label_6", tr("Size:"), "sizeLabel");
    layout->addWidget(basicInfo);

    auto *line = new QFrame(page);
    line->setObjectName(QStringLiteral("line"));
    line->setFrameShape(QFrame::HLine);
    layout->addWidget(line);

    m_upgradeInfoTextEdit = new QTextEdit(page);
    m_upgradeInfoTextEdit->setObjectName(QStringLiteral("upgradeInfoTextEdit"));
    m_upgradeInfoTextEdit->setReadOnly(true);
    layout->addWidget(m_upgradeInfoTextEdit, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *laterBtn = new QPushButton(tr("Remind Me Later"), page);
    laterBtn->setObjectName(QStringLiteral("laterBtn"));
    auto *upgradeBtn = new QPushButton(tr("Upgrade Now"), page);
    upgradeBtn->setObjectName(QStringLiteral("upgradeBtn"));
    buttons->addWidget(laterBtn);
    buttons->addWidget(upgradeBtn);
    layout->addLayout(buttons);
    connect(laterBtn, &QPushButton::clicked, this, &SCUpgradeWindow::on_laterBtn_clicked);
    connect(upgradeBtn, &QPushButton::clicked, this, &SCUpgradeWindow::on_upgradeBtn_clicked);
    return page;
}

QWidget *SCUpgradeWindow::buildCheckFailedPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("checkFailedPage"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(30, 12, 30, 20);
    layout->addStretch();
    auto *failed = new QLabel(tr("The update check failed."), page);
    failed->setObjectName(QStringLiteral("checkFailedLabel"));
    failed->setAlignment(Qt::AlignCenter);
    failed->setWordWrap(true);
    layout->addWidget(failed);
    m_failureReasonLabel = new QLabel(page);
    m_failureReasonLabel->setObjectName(QStringLiteral("failureReasonLabel"));
    m_failureReasonLabel->setAlignment(Qt::AlignCenter);
    m_failureReasonLabel->setWordWrap(true);
    layout->addWidget(m_failureReasonLabel);
    layout->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *retryBtn = new QPushButton(tr("Try Again"), page);
    retryBtn->setObjectName(QStringLiteral("retryBtn"));
    buttons->addWidget(retryBtn);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(retryBtn, &QPushButton::clicked, this, &SCUpgradeWindow::on_retryBtn_clicked);
    return page;
}

void SCUpgradeWindow::initUI()
{
    m_upgradeInfoTextEdit->setTextInteractionFlags(Qt::NoTextInteraction);
    m_upgradeInfoTextEdit->viewport()->setCursor(Qt::ArrowCursor);
    m_stackedWidget->setCurrentIndex(CheckingPage);

    const QString path = QStringLiteral(":/res/style/upgrade-window-macos.qss");
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        setStyleSheet(QTextStream(&file).readAll());
    else
        qWarning() << "Failed to load stylesheet from:" << path << "Error:" << file.errorString();
}

void SCUpgradeWindow::checkForUpdates()
{
    if (!m_networkManager)
        m_networkManager = new QNetworkAccessManager(this);
    QNetworkReply *reply = requestManifest(m_networkManager);
    connect(reply, &QNetworkReply::finished, this, &SCUpgradeWindow::onNetworkReplyFinished);
    connect(reply, &QNetworkReply::errorOccurred, this, &SCUpgradeWindow::onNetworkError);
}

void SCUpgradeWindow::onNetworkReplyFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    const ManifestResult result = readManifest(reply);
    if (result.failure == ManifestResult::Failure::None)
        parseUpgradeInfo(result.manifest);
    else
        showCheckFailed(result);
    reply->deleteLater();
}

// The reply's end decides the page; a network error always ends it too.
void SCUpgradeWindow::onNetworkError(QNetworkReply::NetworkError code)
{
    qDebug() << "Network error:" << code;
}

void SCUpgradeWindow::showCheckFailed(const ManifestResult &result)
{
    SCLogger::instance()->warning(
            QStringLiteral("Update check failed: %1 (%2, %3)")
                    .arg(failureText(result), result.detail, manifestUrl().toString()));
    m_failureReasonLabel->setText(failureText(result));
    m_stackedWidget->setCurrentIndex(CheckFailedPage);
}

void SCUpgradeWindow::on_retryBtn_clicked()
{
    m_stackedWidget->setCurrentIndex(CheckingPage);
    checkForUpdates();
}

void SCUpgradeWindow::parseUpgradeInfo(const QJsonObject &manifest)
{
    // Never left on "Waiting for checking...": a manifest without a release is a failed check.
    if (manifest.isEmpty() || !manifest.value(QStringLiteral("win")).isObject()) {
        qDebug() << (manifest.isEmpty() ? "Failed to parse JSON data"
                                        : "No Windows upgrade info found");
        ManifestResult result;
        result.failure = ManifestResult::Failure::BadManifest;
        result.detail = QStringLiteral("no release record");
        showCheckFailed(result);
        return;
    }
    const QJsonObject release = manifest.value(QStringLiteral("win")).toObject();
    const QString version = release.value(QStringLiteral("version")).toString();
    if (!Vistrel::isNewerVersion(version)) {
        m_currentVersionLabel->setText(Vistrel::version());
        m_stackedWidget->setCurrentIndex(UpToDatePage);
        return;
    }
    showUpgradeInfo(version, release.value(QStringLiteral("size")).toString(),
                    release.value(QStringLiteral("date")).toString(),
                    release.value(QStringLiteral("url")).toString(),
                    release.value(QStringLiteral("change")).toArray());
}

void SCUpgradeWindow::showUpgradeInfo(const QString &version, const QString &size,
                                      const QString &date, const QString &url,
                                      const QJsonArray &changes)
{
    m_newVersionLabel->setText(version);
    m_releaseDateLabel->setText(date);
    m_sizeLabel->setText(size);
    // Only web pages are handed to the browser, whatever the manifest says.
    const QUrl download(url);
    const bool web = download.isValid()
            && (download.scheme() == QLatin1String("https")
                || download.scheme() == QLatin1String("http"));
    if (!web)
        qWarning() << "Update manifest names no web page to download from:" << url;
    m_downloadUrl = web ? url : QString();
    QString notes;
    for (const QJsonValue &change : changes)
        notes += change.toString() + QLatin1Char('\n');
    m_upgradeInfoTextEdit->setPlainText(notes);
    m_stackedWidget->setCurrentIndex(UpgradeInfoPage);
}

void SCUpgradeWindow::on_closeBtn_clicked()
{
    close();
}

void SCUpgradeWindow::on_laterBtn_clicked()
{
    close();
}

void SCUpgradeWindow::on_upgradeBtn_clicked()
{
    if (!m_downloadUrl.isEmpty())
        QDesktopServices::openUrl(QUrl(m_downloadUrl));
}
