#include "settingstable.h"

#include "defaultsstore.h"
#include "notificationpolicy.h"
#include "permissionhold.h"

#include <algorithm>

namespace Settings {

const QList<Row> &table()
{
    // A text setting names its values: {u"key"_s, u"default"_s, {u"default"_s, u"other"_s}}.
    static const QList<Row> rows{
        {notifyOnPermissionRequired, true},
        {notifyOnTaskComplete, true},
        {notifyOnIdle, false},
        {isPinnedToTop, false},
        {rowDensity,
         QStringLiteral("auto"),
         {QStringLiteral("auto"), QStringLiteral("comfortable"), QStringLiteral("compact")}},
        {holdPermissionRequests, true},
        {holdCodexRequests, false},
        {warnPlanLimit, true},
        {planWarnPercent, 80, {}, 1, 100},
        {planAlarmPercent, 95, {}, 1, 100},
        {warnContext, true},
        {contextWarnPercent, 90, {}, 1, 100},
        {holdMinutes,
         PermissionHold::defaultMinutes,
         {},
         PermissionHold::shortestMinutes,
         PermissionHold::longestMinutes},
        {quietInFront, true},
        {completedAfterSeconds, 15, {}, 0, 3600},
        {quietUntil, QString()},
        {pushEnabled, false},
        {pushServer, QString()},
        {pushTopic, QString()},
        {pushAfterMinutes, 3, {}, 1, 60},
    };
    return rows;
}

const Row *find(const QString &key, const QList<Row> &rows)
{
    const auto it =
        std::find_if(rows.begin(), rows.end(), [&key](const Row &row) { return row.key == key; });
    return it == rows.end() ? nullptr : &*it;
}

QVariant value(const DefaultsStore &store, const Row &row)
{
    if (row.defaultValue.typeId() == QMetaType::Bool)
        return store.contains(row.key) ? store.boolValue(row.key) : row.defaultValue;
    const std::optional<QString> text = store.text(row.key);
    if (row.defaultValue.typeId() == QMetaType::Int) {
        bool ok = false;
        const int number = text ? text->toInt(&ok) : 0;
        return ok && number >= row.minimum && number <= row.maximum ? QVariant(number)
                                                                    : row.defaultValue;
    }
    if (!text || (!row.choices.isEmpty() && !row.choices.contains(*text)))
        return row.defaultValue;
    return *text;
}

bool setValue(DefaultsStore &store, const Row &row, const QVariant &value)
{
    if (row.defaultValue.typeId() == QMetaType::Int) {
        // QML hands over numbers as doubles as often as not: whole ones count.
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || value.typeId() == QMetaType::Bool || value.typeId() == QMetaType::QString ||
            !(number >= row.minimum && number <= row.maximum) || number != int(number))
            return false;
        store.setText(row.key, QString::number(int(number)));
        return true;
    }
    if (value.metaType() != row.defaultValue.metaType())
        return false;
    if (value.typeId() == QMetaType::Bool) {
        store.setBool(row.key, value.toBool());
        return true;
    }
    if (!row.choices.isEmpty() && !row.choices.contains(value.toString()))
        return false;
    store.setText(row.key, value.toString());
    return true;
}

NotificationPolicy::Preferences notificationPreferences(const DefaultsStore &store)
{
    const auto percent = [&](const QString &on, const QString &key) {
        return value(store, *find(on)).toBool() ? value(store, *find(key)).toInt() : 0;
    };
    return {store.boolValue(notifyOnPermissionRequired),
            store.boolValue(notifyOnTaskComplete),
            store.boolValue(notifyOnIdle),
            percent(warnPlanLimit, planWarnPercent),
            percent(warnPlanLimit, planAlarmPercent),
            percent(warnContext, contextWarnPercent)};
}

PermissionHold::Bound hold(const DefaultsStore &store)
{
    PermissionHold::Bound bound;
    bound.claude = value(store, *find(holdPermissionRequests)).toBool();
    bound.codex = value(store, *find(holdCodexRequests)).toBool();
    if (bound.claude || bound.codex)
        bound.seconds = holdBoundMinutes(store) * 60L;
    return bound;
}

int holdBoundMinutes(const DefaultsStore &store)
{
    return value(store, *find(Settings::holdMinutes)).toInt();
}

} // namespace Settings
