#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <optional>

// What survives a restart of one project directory: enough to rebuild a
// placeholder instance at the next launch.
struct SavedInstanceData
{
    QString id;
    std::optional<QString> customName;
    QString projectPath;
    QString projectName;

    bool operator==(const SavedInstanceData &) const = default;

    // "customName" is left out when absent.
    QJsonObject toJson() const;
    // "id", "projectPath" and "projectName" must be strings; "customName" may
    // be missing or null. Anything else fails.
    static std::optional<SavedInstanceData> fromJson(const QJsonValue &value);
};

// Project path -> value maps, and their stored JSON forms. Decoding is all or
// nothing: one bad member fails the whole map.
using CustomNames = QMap<QString, QString>;
using SavedInstances = QMap<QString, SavedInstanceData>;

QByteArray encodeCustomNames(const CustomNames &names);
std::optional<CustomNames> decodeCustomNames(const QByteArray &json);
QByteArray encodeInstanceOrder(const QStringList &order);
std::optional<QStringList> decodeInstanceOrder(const QByteArray &json);
QByteArray encodeSavedInstances(const SavedInstances &records);
std::optional<SavedInstances> decodeSavedInstances(const QByteArray &json);
