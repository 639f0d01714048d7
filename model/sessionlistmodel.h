#pragma once

#include "eventrules.h"
#include "hookevent.h"
#include "notificationpolicy.h"
#include "quiet.h"
#include "session.h"
#include "sessionstore.h"
#include "transcriptfollower.h"
#include "usage.h"

#include <QAbstractListModel>
#include <QTimer>
#include <functional>

class ActivityLogModel;

// The session list: every tracked Claude Code session, in the order the main
// window shows them, with the view state of each row. Hook events change it
// through EventRules; what must survive a restart goes to the SessionStore.
// Lives on the main thread; nothing here takes a lock.
class SessionListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY countChanged)
    // Plan limits, the cost of the day and the sessions near their context's
    // end, for the window's header: "5h 42% · resets 14:10 · 7d 18% · $3.20 today".
    Q_PROPERTY(QString usageSummary READ usageSummary NOTIFY usageChanged)
    // How many sessions' processes have gone: the header's "Remove Exited".
    Q_PROPERTY(int exitedCount READ exitedCount NOTIFY exitedCountChanged)
    // Projects (Session::nameKey) whose notices are kept back, and every
    // project Tolvo has seen, for the settings to mute one.
    Q_PROPERTY(QStringList mutedProjects READ mutedProjects NOTIFY mutedProjectsChanged)
    Q_PROPERTY(QStringList knownProjects READ knownProjects NOTIFY mutedProjectsChanged)
    Q_PROPERTY(
        bool hasReceivedFirstEvent READ hasReceivedFirstEvent NOTIFY hasReceivedFirstEventChanged)

public:
    enum Role {
        SessionIdRole = Qt::UserRole + 1,
        DisplayNameRole,
        ProjectPathRole,
        StatusLineRole,
        StatusColorRole, // a StatusColor
        IsWorkingRole,
        IsExitedRole,
        UnreadCountRole,
        CanGoToTerminalRole, // a live process of its own, whose terminal can be looked for
        NoticeRole, // what Go to Terminal did, when the user has to finish it; until the next event
        // The oldest request that waits for an answer from Tolvo: "id", "text"
        // and "alwaysText" (empty: no Always allow), "count" of all waiting;
        // an empty map when none waits.
        RequestRole,
        AnswersInTerminalRole, // the session waits on a question only its terminal shows
        BadgeRole,             // "Exited", "Disconnected" (its host's relay is down), or empty
        AgentMarkRole,         // agentMark()
        AgentNameRole,         // agentName(), for the mark's tooltip
        // What its status line reported: "model", "contextText",
        // "contextFraction", "contextRed", "costText", "detailsText"; only
        // what is known, an empty map when nothing is.
        UsageRole,
        MutedRole, // its project raises no notices; writable
        // View state, kept here so that it outlives the row's delegate.
        ExpandedRole,   // writable; opening marks the session read
        EditingRole,    // writable; starting an edit sets editedName to the name
        EditedNameRole, // writable
    };
    Q_ENUM(Role)

    // What to notify about, for the application to show.
    struct Notification
    {
        QString sessionId;
        QString projectPath; // tells apart notices of sessions with the same name
        QString title;
        NotificationPolicy::Notice notice;
        // A request that the notification's actions may answer.
        QString requestId;
        QString alwaysText; // empty: no Always allow
        // What the quiet rules judge it by (quiet.h).
        Quiet::NoticeKind kind = Quiet::NoticeKind::request;
        std::optional<double> turnSeconds;
        bool muted = false;
    };

    // Restores placeholders for the saved sessions; has no other effect.
    explicit SessionListModel(SessionStore &store, QObject *parent = nullptr);
    ~SessionListModel() override;

    // Placeholders restored at start: the most recently active directories.
    static constexpr int restoredLimit = 200;
    // How often the status lines' durations ("· 4 min") are brought up to date.
    static constexpr int durationRefreshMs = 20000;

    // The notification switches, read afresh for every event (default: on, on, off).
    void setPreferences(std::function<NotificationPolicy::Preferences()> preferences);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_rows.size()); }
    QString subtitle() const;
    Usage::PlanLimits planLimits() const;
    double costToday() const;
    // Live sessions whose context is fuller than Usage::contextFullPercent.
    int sessionsNearlyFull() const;
    QString usageSummary() const;
    // What D-Bus Usage() answers: the plan's windows, "costTodayUsd",
    // "sessionsNearlyFull" and "summary".
    QJsonObject usageJson() const;
    int exitedCount() const;
    bool hasReceivedFirstEvent() const { return m_hasReceivedFirstEvent; }

    const Session &session(int row) const { return m_rows.at(row).session; }
    int rowOfId(const QString &id) const;
    int rowOfPid(qint64 pid) const;
    // The row of the session an event comes from, by its process or its
    // session id as its agent tells sessions apart; -1 when none.
    int rowOf(const HookEvent &event) const;

    // One validated hook event: finds or creates the session of its process
    // and applies the event to it.
    void handle(const HookEvent &event);

    // List operations; a row out of range does nothing.
    Q_INVOKABLE void rename(int row, const QString &name); // empty: back to the project name
    Q_INVOKABLE void clearLog(int row);
    Q_INVOKABLE void setProjectMuted(const QString &project, bool muted);
    QStringList mutedProjects() const;
    QStringList knownProjects() const;
    Q_INVOKABLE void remove(int row);
    Q_INVOKABLE void removeExited();
    // Moves one row so that it ends up at `to`.
    Q_INVOKABLE void move(int from, int to);
    // The settings window's names: replaces all custom names at once.
    void updateCustomNames(const CustomNames &names);
    // The session's process has gone.
    void markExited(int row);

    // What a remote's relay says about its sessions. Each touches only the
    // rows of that host.
    int rowOfRemote(const QString &host, qint64 pid) const;
    void markExited(const QString &host, qint64 pid);
    // The user refused the permission dialog in the session's terminal.
    void refusedIn(const QString &host, qint64 pid);
    // The relay went away: the host's rows show "Disconnected", and what
    // they waited on no longer waits.
    void hostDisconnected(const QString &host);
    // The relay is back and has replayed what it kept: sessions whose
    // processes run there (`live`) are connected again, the others exited.
    void hostReplayed(const QString &host, const QList<qint64> &live);
    // A line for the session's row until its next event.
    void setNotice(const QString &id, const QString &notice);

    // The waiting request with this id, and its row; nullptr when none waits.
    const WaitingRequest *waitingRequest(const QString &id, int *row = nullptr) const;
    // The request was answered from Tolvo, or its helper stopped waiting.
    void withdrawRequest(const QString &id);

    // The log of a row's session, made on first use and kept with the row
    // (with its view state: which entries show their record).
    Q_INVOKABLE QObject *activityLog(int row);

Q_SIGNALS:
    void countChanged();
    void exitedCountChanged();
    void mutedProjectsChanged();
    void hasReceivedFirstEventChanged();
    // Any change of any session or of the order, for summaries (tray, D-Bus).
    void changed();
    void usageChanged();
    void notificationRequested(const SessionListModel::Notification &notification);
    // Requests that no longer wait (answered in the terminal, the turn or the
    // session ended): their helpers are to be let go, their notices closed.
    void requestsEnded(const QString &host, const QStringList &ids);

private:
    struct Row
    {
        Session session;
        bool expanded = false;
        bool editing = false;
        QString editedName;
        QString notice;
        ActivityLogModel *log = nullptr;
    };

    int rowWhere(const std::function<bool(const Session &)> &matches) const;
    void restore();
    int createSession(qint64 pid, const QString &projectPath, const QString &host, Agent agent);
    void learnDirectory(int row, const QString &directory);
    void rowChanged(int row, const QList<int> &roles = {});
    void carryOut(int row, const EventRules::Applied &applied, const HookEvent &event);
    QVariantMap requestData(const Session &session) const;
    void endRequests(Session &session);
    void refused(const QString &id);
    void refreshDurations();
    void countsChanged();
    void removeRows(const QList<int> &rows);
    void saveOrder();
    QVariant usageData(int row) const;
    void tookUsage(int row);
    void warnOfUsage(int row);
    Notification notificationOf(const Session &session, const QString &body,
                                Quiet::NoticeKind kind) const;

    SessionStore &m_store;
    std::function<NotificationPolicy::Preferences()> m_preferences;
    QList<Row> m_rows;
    bool m_hasReceivedFirstEvent = false;
    quint64 m_nextEntryId = 1;
    TranscriptFollower m_transcripts;
    QTimer m_durationTimer;
    int m_exitedCount = 0;
    Usage::CostLedger m_costLedger;
    // The 5-hour window warned of last (its reset time) and the highest percent said.
    std::optional<qint64> m_planWarnedWindow;
    int m_planWarnedPercent = 0;
};
