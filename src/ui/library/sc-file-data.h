#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariantMap>

// One entry of the file library.
struct FileData
{
    QString filepath;
    // The program sets "type" ("video", "audio", "screenshot") and "dateAdded" (ISO date).
    QVariantMap properties;

    QJsonObject toJson() const
    {
        QJsonObject object;
        object.insert(QStringLiteral("filepath"), filepath);
        object.insert(QStringLiteral("properties"), QJsonObject::fromVariantMap(properties));
        return object;
    }
};
