#pragma once

#include <QString>

// The program's version comes from the build (the project's VERSION) and from nowhere else.
namespace Vistrel {

inline QString version()
{
    return QStringLiteral(VISTREL_VERSION);
}

// True when `candidate` names a later release than `current`, compared as version numbers
// ("1.0.10" is later than "1.0.9"). Texts that are no version number are never later.
bool isNewerVersion(const QString &candidate, const QString &current = version());

} // namespace Vistrel
