#include "test-home.h"

#include "sc-logger.h"

#include <QFile>

TestHome::TestHome()
{
    qputenv("HOME", m_home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", configDir().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataDir().toLocal8Bit());
}

bool TestHome::openLog()
{
    return SCLogger::instance()->initialize(filePath(QStringLiteral("test.log")));
}

QString TestHome::log() const
{
    QFile file(filePath(QStringLiteral("test.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
