#include "sessionstore.h"

#include "defaultsstore.h"
#include "eventslog.h"
#include "modellog.h"
#include "session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <sys/stat.h>

namespace {

const QString legacyNamesKey = QStringLiteral("com.tolvo.customProjectNames");
const QString legacyOrderKey = QStringLiteral("com.tolvo.instanceOrder");
const QString legacyRecordsKey = QStringLiteral("com.tolvo.savedSessions");

QJsonObject recordToJson(const SavedSession &record)
{
    QJsonObject object{{QStringLiteral("id"), record.id},
                       {QStringLiteral("projectPath"), record.projectPath},
                       {QStringLiteral("projectName"), record.projectName}};
    if (record.customName)
        object.insert(QStringLiteral("customName"), *record.customName);
    if (record.lastActive > 0)
        object.insert(QStringLiteral("lastActive"), record.lastActive);
    return object;
}

// "id", "projectPath" and "projectName" must be strings; "customName" may be
// missing or null. Anything else fails.
std::optional<SavedSession> recordFromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(u"id");
    const QJsonValue path = object.value(u"projectPath");
    const QJsonValue name = object.value(u"projectName");
    const QJsonValue custom = object.value(u"customName");
    if (!id.isString() || !path.isString() || !name.isString())
        return std::nullopt;
    if (!custom.isUndefined() && !custom.isNull() && !custom.isString())
        return std::nullopt;
    SavedSession record{id.toString(), std::nullopt, path.toString(), name.toString(),
                        std::max(0.0, object.value(u"lastActive").toDouble())};
    if (custom.isString())
        record.customName = custom.toString();
    return record;
}

// Each piece is read whole or not at all: one member that `convert` refuses
// (nullopt) fails it. `convert` gives the key and the value to keep.
template<typename Map, typename Convert>
std::optional<Map> mapFromJson(const QJsonValue &value, Convert convert)
{
    if (!value.isObject())
        return std::nullopt;
    Map map;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto converted = convert(it.key(), it.value());
        if (!converted)
            return std::nullopt;
        map.insert(converted->first, converted->second);
    }
    return map;
}

std::optional<CustomNames> namesFromJson(const QJsonValue &value)
{
    using Entry = std::optional<std::pair<QString, QString>>;
    return mapFromJson<CustomNames>(value, [](const QString &path, const QJsonValue &name) {
        return name.isString() ? Entry({path, name.toString()}) : std::nullopt;
    });
}

// A record counts under its own path, whatever the member is called.
std::optional<SavedSessions> recordsFromJson(const QJsonValue &value)
{
    using Entry = std::optional<std::pair<QString, SavedSession>>;
    return mapFromJson<SavedSessions>(value, [](const QString &, const QJsonValue &stored) {
        const auto record = recordFromJson(stored);
        return record ? Entry({record->projectPath, *record}) : std::nullopt;
    });
}

std::optional<QStringList> orderFromJson(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList order;
    for (const QJsonValue &id : value.toArray()) {
        if (!id.isString())
            return std::nullopt;
        order.append(id.toString());
    }
    return order;
}

// A piece as older versions stored it: JSON text in a byte-string value.
QJsonValue legacyPiece(const DefaultsStore &store, const QString &key)
{
    const std::optional<QByteArray> data = store.data(key);
    if (!data)
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(*data);
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

} // namespace

SessionStore::SessionStore(const QString &filePath, DefaultsStore *legacy, QObject *parent)
    : QObject(parent), m_filePath(filePath)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &SessionStore::flush);
    load(legacy);
}

SessionStore::~SessionStore()
{
    flush();
}

QString SessionStore::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tolvo/sessions.json");
}

void SessionStore::load(DefaultsStore *legacy)
{
    QJsonValue names, order, records;
    QFile file(m_filePath);
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
        names = stored.value(u"names");
        order = stored.value(u"order");
        records = stored.value(u"sessions");
        m_costLedger = stored.value(u"cost").toObject();
        for (const QJsonValue key : stored.value(u"muted").toArray()) {
            if (key.isString())
                m_muted.insert(key.toString());
        }
    } else if (legacy && !QFileInfo::exists(m_filePath)) {
        m_legacy = legacy;
        names = legacyPiece(*legacy, legacyNamesKey);
        order = legacyPiece(*legacy, legacyOrderKey);
        records = legacyPiece(*legacy, legacyRecordsKey);
    }
    if (const auto loaded = namesFromJson(names)) {
        m_names = *loaded;
        qCInfo(lcModel, "📂 Loaded %lld custom project names", qlonglong(m_names.size()));
    }
    if (const auto loaded = orderFromJson(order)) {
        m_order = *loaded;
        qCInfo(lcModel, "📊 Loaded custom instance order with %lld items",
               qlonglong(m_order.size()));
    }
    if (const auto loaded = recordsFromJson(records)) {
        m_records = *loaded;
        qCInfo(lcModel, "📂 Loaded %lld saved instances", qlonglong(m_records.size()));
    }
}

QList<Session> SessionStore::placeholders(qsizetype limit, WallClockTime now) const
{
    QHash<QString, qsizetype> positions;
    positions.reserve(m_order.size());
    for (qsizetype at = m_order.size() - 1; at >= 0; --at) // the first of a repeated id counts
        positions.insert(m_order.at(at), at);
    const auto position = [&](const SavedSession &record) {
        return positions.value(record.id, m_order.size());
    };
    QList<SavedSession> records = m_records.values();
    // Without a time (older versions kept none) later in the order is newer.
    std::stable_sort(records.begin(), records.end(), [&](const auto &a, const auto &b) {
        if (a.lastActive != b.lastActive)
            return a.lastActive > b.lastActive;
        return position(a) > position(b);
    });
    if (records.size() > limit)
        records.resize(limit);
    std::stable_sort(records.begin(), records.end(),
                     [&](const auto &a, const auto &b) { return position(a) < position(b); });
    QList<Session> sessions;
    for (const SavedSession &record : std::as_const(records)) {
        // Any hash of the path will do: placeholders are found by their path.
        const qint64 hash = qint64(qHash(record.projectPath) & 0x7fffffffffffffffULL);
        sessions.append(Session::make(record.id, -std::max<qint64>(hash, 1), record.projectPath,
                                      record.projectName, record.customName, now));
    }
    return sessions;
}

std::optional<QString> SessionStore::nameForNewSession(const QString &path,
                                                       const QString &projectName)
{
    const auto record = m_records.constFind(path);
    if (record != m_records.constEnd()) {
        qCDebug(lcEvents).noquote() << QStringLiteral("🏷️ Using saved custom name '") +
                                           record->customName.value_or(QStringLiteral("nil")) +
                                           QStringLiteral("' for ") + path;
        return record->customName;
    }
    if (path == unknownProjectPath)
        return std::nullopt;
    const auto name = m_names.constFind(path);
    if (name != m_names.constEnd()) {
        qCDebug(lcEvents).noquote() << QStringLiteral("🏷️ Using saved custom name '") + *name +
                                           QStringLiteral("' for ") + path;
        return *name;
    }
    setCustomName(path, projectName);
    qCDebug(lcEvents).noquote() << QStringLiteral("💾 Saved default name '") + projectName +
                                       QStringLiteral("' for ") + path;
    return std::nullopt;
}

void SessionStore::changed(int pieces)
{
    m_dirty |= pieces;
    if (!m_saveTimer.isActive())
        m_saveTimer.start();
}

void SessionStore::setCustomName(const QString &path, const std::optional<QString> &name)
{
    if (name)
        m_names.insert(path, *name);
    else
        m_names.remove(path);
    changed(Piece::namesPiece);
    Q_EMIT customNamesChanged();
}

void SessionStore::rename(const QString &path, const std::optional<QString> &name)
{
    setCustomName(path, name);
    const auto saved = m_records.find(path);
    if (saved != m_records.end()) {
        saved->customName = name;
        changed(Piece::recordsPiece);
    }
}

void SessionStore::replaceCustomNames(const CustomNames &names)
{
    m_names = names;
    changed(Piece::namesPiece);
    Q_EMIT customNamesChanged();
}

void SessionStore::setRecord(const SavedSession &record)
{
    m_records.insert(record.projectPath, record);
    changed(Piece::recordsPiece);
}

void SessionStore::record(const Session &session)
{
    setRecord(
        {session.id, session.customName, session.projectPath, session.projectName, wallClockNow()});
}

void SessionStore::removeRecord(const QString &path)
{
    m_records.remove(path);
    changed(Piece::recordsPiece);
}

void SessionStore::forget(const Session &session)
{
    const auto saved = m_records.constFind(session.projectPath);
    if (saved != m_records.constEnd() && saved->id == session.id)
        removeRecord(session.projectPath);
}

void SessionStore::setOrder(const QStringList &ids)
{
    if (ids == m_order)
        return;
    m_order = ids;
    changed(Piece::orderPiece);
}

bool SessionStore::flush()
{
    m_saveTimer.stop();
    if (m_dirty == 0)
        return true;

    QJsonObject records;
    for (const SavedSession &record : std::as_const(m_records))
        records.insert(record.projectPath, recordToJson(record));
    QJsonObject names;
    for (auto it = m_names.begin(); it != m_names.end(); ++it)
        names.insert(it.key(), it.value());
    const QJsonObject stored{{QStringLiteral("names"), names},
                             {QStringLiteral("order"), QJsonArray::fromStringList(m_order)},
                             {QStringLiteral("sessions"), records},
                             {QStringLiteral("cost"), m_costLedger},
                             {QStringLiteral("muted"), QJsonArray::fromStringList(QStringList(
                                                           m_muted.begin(), m_muted.end()))}};

    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    // The file names the user's projects: theirs alone, whatever the umask.
    if (!file.open(QIODevice::WriteOnly) || ::fchmod(file.handle(), 0600) != 0 ||
        file.write(QJsonDocument(stored).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        qCWarning(lcModel).noquote() << "Could not save the sessions:" << file.errorString();
        return false;
    }
    if (m_dirty & Piece::namesPiece)
        qCInfo(lcModel, "💾 Saved %lld custom project names", qlonglong(m_names.size()));
    if (m_dirty & Piece::orderPiece)
        qCInfo(lcModel, "💾 Saved instance order");
    if (m_dirty & Piece::recordsPiece)
        qCInfo(lcModel, "💾 Saved %lld instance data", qlonglong(m_records.size()));
    m_dirty = 0;
    if (m_legacy) {
        for (const QString &key : {legacyNamesKey, legacyOrderKey, legacyRecordsKey})
            m_legacy->remove(key);
        m_legacy = nullptr;
    }
    return true;
}

void SessionStore::setMuted(const QString &nameKey, bool muted)
{
    if (nameKey.isEmpty() || m_muted.contains(nameKey) == muted)
        return;
    if (muted)
        m_muted.insert(nameKey);
    else
        m_muted.remove(nameKey);
    changed(Piece::mutedPiece);
    Q_EMIT mutedChanged();
}

void SessionStore::setCostLedger(const QJsonObject &ledger)
{
    if (ledger == m_costLedger)
        return;
    m_costLedger = ledger;
    changed(Piece::costPiece);
}
