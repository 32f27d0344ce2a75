#include "sc-main-window.h"

#include "sc-logger.h"
#include "sc-settings.h"
#include "sc-translator.h"

#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>

SCMainWindow::SCMainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    SCLogger::instance()->initialize(QString());
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    SCSettings::applyDefaults(settings);

    setWindowTitle(QStringLiteral("Vistrel"));
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    auto *title = new QLabel(QStringLiteral("Vistrel %1").arg(QStringLiteral(VISTREL_VERSION)),
                             central);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    setCentralWidget(central);
    resize(480, 320);
}

SCMainWindow::~SCMainWindow() = default;

void SCMainWindow::setTranslator(std::shared_ptr<SCTranslator> translator)
{
    m_translator = std::move(translator);
}

void SCMainWindow::initObsRecording()
{
    SCLogger::instance()->info(QStringLiteral("Main window ready"));
}
