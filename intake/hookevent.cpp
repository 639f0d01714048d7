#include "hookevent.h"

#include <QJsonDocument>
#include <limits>

std::optional<qint64> parseProcessId(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;

    // Accumulate towards the negative side, which has room for the minimum.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

namespace {

std::optional<QString> optionalText(const QJsonObject &record, QStringView key)
{
    const QJsonValue value = record.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

} // namespace

std::variant<HookEvent, HookRecordRejected> decodeHookRecord(const QJsonObject &record,
                                                             qint64 ownPid)
{
    const QJsonValue event = record.value(u"event");
    const QJsonValue instance = record.value(u"instance");
    if (record.isEmpty() || !event.isString() || !instance.isString())
        return HookRecordRejected{
            QStringLiteral("⚠️ Invalid event format: missing required fields")};

    const QString pidText = instance.toString();
    std::optional<qint64> pid = parseProcessId(pidText);
    if (!pid && pidText == u"$PPID")
        pid = ownPid;
    if (!pid)
        return HookRecordRejected{QStringLiteral("⚠️ Invalid PID format: ") + pidText};

    return HookEvent{event.toString(), *pid, optionalText(record, u"tool"),
                     optionalText(record, u"details"), optionalText(record, u"working_directory")};
}

QString rawJsonText(const QJsonObject &record)
{
    return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Indented));
}
