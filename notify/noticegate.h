#pragma once

#include "quiet.h"
#include "sessionlistmodel.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <optional>

class DefaultsStore;
class QuietState;

// Between the session list's notices and the desktop: keeps back what the
// quiet rules (quiet.h) say to, and asks which terminal is in front for the
// rest when the user wants no notice of the session before their eyes.
// A session's notices leave in the order they came.
class NoticeGate : public QObject
{
    Q_OBJECT
public:
    // Answers, once, whether the session's terminal is the one in front:
    // nullopt when that cannot be told (then the notice is shown).
    using Answer = std::function<void(std::optional<bool> inFront)>;
    using Presence = std::function<void(const QString &sessionId, Answer answer)>;

    NoticeGate(DefaultsStore &defaults, QuietState &quiet, QObject *parent = nullptr);

    void setPresence(Presence presence) { m_presence = std::move(presence); }
    void offer(const SessionListModel::Notification &notification);

Q_SIGNALS:
    // Past do not disturb, the server's pause, mutes and short turns: for
    // notices that reach the user elsewhere.
    void passed(const SessionListModel::Notification &notification);
    // For the desktop: also not the session in front of the user.
    void shown(const SessionListModel::Notification &notification);
    void silenced(const SessionListModel::Notification &notification, Quiet::Reason reason);

private:
    void askNext(const QString &sessionId);

    DefaultsStore &m_defaults;
    QuietState &m_quiet;
    Presence m_presence;
    // Notices waiting for the answer about their session's terminal, oldest first.
    QHash<QString, QList<SessionListModel::Notification>> m_asking;
};
