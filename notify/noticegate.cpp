#include "noticegate.h"

#include "defaultsstore.h"
#include "notifylog.h"
#include "quietstate.h"
#include "settingstable.h"

#include <QPointer>

namespace {

const char *reasonText(Quiet::Reason reason)
{
    switch (reason) {
    case Quiet::Reason::doNotDisturb:
        return "do not disturb";
    case Quiet::Reason::inhibited:
        return "the notification server is paused";
    case Quiet::Reason::muted:
        return "its project is muted";
    case Quiet::Reason::shortTurn:
        return "a short turn";
    case Quiet::Reason::inFront:
        return "its terminal is in front";
    case Quiet::Reason::none:
        break;
    }
    return "";
}

} // namespace

NoticeGate::NoticeGate(DefaultsStore &defaults, QuietState &quiet, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_quiet(quiet)
{}

void NoticeGate::offer(const SessionListModel::Notification &notification)
{
    const Quiet::Reason reason =
        Quiet::silencedBy({notification.kind, notification.turnSeconds, notification.muted},
                          m_quiet.state(), wallClockNow());
    if (reason != Quiet::Reason::none) {
        qCInfo(lcNotify, "🔕 Not shown: %s", reasonText(reason));
        Q_EMIT silenced(notification, reason);
        return;
    }
    Q_EMIT passed(notification);
    if (!m_presence ||
        !Settings::value(m_defaults, *Settings::find(Settings::quietInFront)).toBool()) {
        Q_EMIT shown(notification);
        return;
    }
    QList<SessionListModel::Notification> &queue = m_asking[notification.sessionId];
    queue.append(notification);
    if (queue.size() == 1)
        askNext(notification.sessionId);
}

void NoticeGate::askNext(const QString &sessionId)
{
    QPointer<NoticeGate> self(this);
    m_presence(sessionId, [self, sessionId](std::optional<bool> inFront) {
        if (!self)
            return;
        auto queue = self->m_asking.find(sessionId);
        if (queue == self->m_asking.end() || queue->isEmpty())
            return;
        const SessionListModel::Notification notification = queue->takeFirst();
        if (queue->isEmpty())
            self->m_asking.erase(queue);
        if (inFront.value_or(false)) {
            qCInfo(lcNotify, "🔕 Not shown: %s", reasonText(Quiet::Reason::inFront));
            Q_EMIT self->silenced(notification, Quiet::Reason::inFront);
        } else {
            Q_EMIT self->shown(notification);
        }
        if (self && self->m_asking.contains(sessionId))
            self->askNext(sessionId);
    });
}
