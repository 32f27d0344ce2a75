#include "sc-about-window.h"

#include "sc-dialog-title-bar.h"
#include "sc-frameless-window-agent.h"
#include "sc-version.h"

#include <QDebug>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTextStream>
#include <QUrl>
#include <QVBoxLayout>

SCAboutWindow::SCAboutWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("SCAboutWindow"));
    setWindowTitle(tr("About"));
    // A thin frame of its own sets the window off from the main window it covers.
    setContentsMargins(1, 1, 1, 1);

    const SCDialogTitleBar title = SCDialogTitleBar::createFrame(tr("About"), "aboutLabel", this);
    QWidget *central = title.central;
    QVBoxLayout *root = title.column;
    m_titleWidget = title.bar;
    m_closeBtn = title.closeButton;

    auto *body = new QWidget(central);
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(24, 16, 24, 16);
    auto *brandLabel = new QLabel(QStringLiteral("Vistrel"), body);
    brandLabel->setObjectName(QStringLiteral("brandLabel"));
    layout->addWidget(brandLabel);
    auto *versionRow = new QHBoxLayout;
    auto *versionTitle = new QLabel(tr("Version:"), body);
    versionTitle->setObjectName(QStringLiteral("label_2"));
    auto *versionLabel = new QLabel(Vistrel::version(), body);
    versionLabel->setObjectName(QStringLiteral("label_3"));
    versionRow->addWidget(versionTitle);
    versionRow->addWidget(versionLabel);
    versionRow->addStretch();
    layout->addLayout(versionRow);
    auto *description = new QPlainTextEdit(
            tr("Ombrant Vistrel screen recorder is a great tool for recording the screen and "
               "taking screenshots."),
            body);
    description->setObjectName(QStringLiteral("plainTextEdit"));
    description->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(description);
    auto *learnMore = new QLabel(tr("To learn more about us, please visit:"), body);
    learnMore->setObjectName(QStringLiteral("label_4"));
    learnMore->setWordWrap(true);
    layout->addWidget(learnMore);
    m_homeURLLabel = new QLabel(homeUrl(), body);
    m_homeURLLabel->setObjectName(QStringLiteral("homeURLLabel"));
    layout->addWidget(m_homeURLLabel);
    layout->addSpacing(8);
    layout->addStretch();
    auto *rights = new QLabel(tr("© 2026 Ombrant. All rights reserved."), body);
    rights->setObjectName(QStringLiteral("label_5"));
    rights->setWordWrap(true);
    layout->addWidget(rights);
    root->addWidget(body, 1);
    setCentralWidget(central);

    auto *agent = new SCFramelessWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(m_titleWidget);
    agent->setHitTestVisible(m_closeBtn);

    connect(m_closeBtn, &QPushButton::clicked, this, &SCAboutWindow::on_closeBtn_clicked);
    connect(m_homeURLLabel, &QLabel::linkActivated, this,
            &SCAboutWindow::on_homeURLLabel_linkActivated);
    initUI();
    fitToTexts(description);
}

// The description and the wrapped lines take what their language needs: the window grows
// downwards instead of cutting a line off.
void SCAboutWindow::fitToTexts(QPlainTextEdit *description)
{
    ensurePolished();
    const QMargins body = description->parentWidget()->layout()->contentsMargins();
    const QMargins frame = contentsMargins();
    const int frameWidth = description->frameWidth();
    QTextDocument document;
    document.setDocumentMargin(description->document()->documentMargin());
    document.setDefaultFont(description->font());
    document.setPlainText(description->toPlainText());
    document.setTextWidth(WIDTH - frame.left() - frame.right() - body.left() - body.right()
                          - 2 * frameWidth);
    // The plain text box counts a line as shown only with a pixel to spare below it.
    description->setFixedHeight(qCeil(document.size().height()) + 1 + 2 * frameWidth);
    const int content = centralWidget()->heightForWidth(WIDTH - frame.left() - frame.right());
    setFixedSize(WIDTH, qMax(HEIGHT, content + frame.top() + frame.bottom()));
}

QString SCAboutWindow::homeUrl()
{
    return QStringLiteral("https://www.ombrant.com/vistrel");
}

void SCAboutWindow::initUI()
{
    const QString path = QStringLiteral(":/res/style/about-window-macos.qss");
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        setStyleSheet(QTextStream(&file).readAll());
    else
        qWarning() << "Failed to load stylesheet from:" << path << "Error:" << file.errorString();

    auto *description = findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));
    description->setReadOnly(true);
    description->setTextInteractionFlags(Qt::NoTextInteraction);
    description->viewport()->setCursor(Qt::ArrowCursor);

    // The label reports the click and the window opens the page, so it opens exactly once.
    m_homeURLLabel->setOpenExternalLinks(false);
    m_homeURLLabel->setTextFormat(Qt::RichText);
    m_homeURLLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_homeURLLabel->setText(
            QStringLiteral("<a style=\"color: #F35627; text-decoration: underline;\" "
                           "href=\"%1\">%1</a>")
                    .arg(m_homeURLLabel->text().toHtmlEscaped()));
}

void SCAboutWindow::on_closeBtn_clicked()
{
    close();
}

void SCAboutWindow::on_homeURLLabel_linkActivated(const QString &link)
{
    QDesktopServices::openUrl(QUrl(link));
}
