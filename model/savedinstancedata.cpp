#include "savedinstancedata.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

std::optional<QJsonDocument> parse(const QByteArray &json)
{
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    return document;
}

QByteArray compact(const QJsonDocument &document)
{
    return document.toJson(QJsonDocument::Compact);
}

} // namespace

QJsonObject SavedInstanceData::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), id},
                       {QStringLiteral("projectPath"), projectPath},
                       {QStringLiteral("projectName"), projectName}};
    if (customName)
        object.insert(QStringLiteral("customName"), *customName);
    return object;
}

std::optional<SavedInstanceData> SavedInstanceData::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(u"id");
    const QJsonValue path = object.value(u"projectPath");
    const QJsonValue name = object.value(u"projectName");
    const QJsonValue custom = object.value(u"customName");
    if (!id.isString() || !path.isString() || !name.isString())
        return std::nullopt;
    if (!custom.isUndefined() && !custom.isNull() && !custom.isString())
        return std::nullopt;

    SavedInstanceData record;
    record.id = id.toString();
    record.projectPath = path.toString();
    record.projectName = name.toString();
    if (custom.isString())
        record.customName = custom.toString();
    return record;
}

QByteArray encodeCustomNames(const CustomNames &names)
{
    QJsonObject object;
    for (auto it = names.begin(); it != names.end(); ++it)
        object.insert(it.key(), it.value());
    return compact(QJsonDocument(object));
}

std::optional<CustomNames> decodeCustomNames(const QByteArray &json)
{
    const auto document = parse(json);
    if (!document || !document->isObject())
        return std::nullopt;
    CustomNames names;
    const QJsonObject object = document->object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
        names.insert(it.key(), it.value().toString());
    }
    return names;
}

QByteArray encodeInstanceOrder(const QStringList &order)
{
    return compact(QJsonDocument(QJsonArray::fromStringList(order)));
}

std::optional<QStringList> decodeInstanceOrder(const QByteArray &json)
{
    const auto document = parse(json);
    if (!document || !document->isArray())
        return std::nullopt;
    QStringList order;
    for (const QJsonValue &value : document->array()) {
        if (!value.isString())
            return std::nullopt;
        order.append(value.toString());
    }
    return order;
}

QByteArray encodeSavedInstances(const SavedInstances &records)
{
    QJsonObject object;
    for (auto it = records.begin(); it != records.end(); ++it)
        object.insert(it.key(), it.value().toJson());
    return compact(QJsonDocument(object));
}

std::optional<SavedInstances> decodeSavedInstances(const QByteArray &json)
{
    const auto document = parse(json);
    if (!document || !document->isObject())
        return std::nullopt;
    SavedInstances records;
    const QJsonObject object = document->object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        auto record = SavedInstanceData::fromJson(it.value());
        if (!record)
            return std::nullopt;
        records.insert(it.key(), *record);
    }
    return records;
}
