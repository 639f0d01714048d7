#include "sessiontarget.h"

#include "statustext.h"

using namespace Qt::StringLiterals;

namespace SessionTarget {

QJsonArray named(const QJsonArray &sessions, const QString &target)
{
    QJsonArray byName;
    for (const QJsonValue &value : sessions) {
        const QJsonObject session = value.toObject();
        const qint64 pid = session.value(u"pid").toInteger();
        if (pid <= 0 || session.value(u"exited").toBool() || target.isEmpty())
            continue;
        const auto isId = [&](QStringView key) {
            return session.value(key).toString().compare(target, Qt::CaseInsensitive) == 0;
        };
        if (isId(u"id") || isId(u"agentSessionId") || QString::number(pid) == target)
            return {session};
        if (StatusText::nameOf(session) == target)
            byName.append(session);
    }
    return byName;
}

QString candidateLine(const QJsonObject &session)
{
    return u"%1 (pid %2, %3)"_s.arg(StatusText::nameOf(session))
        .arg(session.value(u"pid").toInteger())
        .arg(StatusText::oneLine(session.value(u"projectPath").toString()));
}

} // namespace SessionTarget
