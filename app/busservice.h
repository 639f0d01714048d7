#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <functional>

class QuietState;
class SessionListModel;

// The sessions as scripts read them: a compact JSON array in display order
// (com.tolvo.Tolvo.xml describes its members).
QString sessionsJson(const SessionListModel &sessions, const QuietState *quiet = nullptr);

// An activation token as the desktop hands it over: at most 256 printable
// ASCII characters, else none.
QString checkedActivationToken(const QVariantMap &platformData);

// Tolvo on the session bus, at /com/tolvo/Tolvo under the name SingleInstance
// claimed: the sessions for scripts (com.tolvo.Tolvo) and the desktop's way
// of bringing an application to the front (org.freedesktop.Application). The
// adaptors are generated from the interfaces' XML and call the slots below.
class BusService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    // `activate` shows and raises the main window; it receives the caller's
    // platform data (activation token, startup id).
    BusService(SessionListModel &sessions, std::function<void(const QVariantMap &)> activate,
               QObject *parent = nullptr);

    // Why events cannot arrive, for Problem().
    void setProblem(const QString &problem);
    // Goes to the terminal of the session with this id; returns its name.
    // The focus function returns the session's name, or sets `problem` when
    // it cannot tell the session's terminal.
    using FocusFunction = std::function<QString(const QString &id, QString *problem)>;
    void setFocus(FocusFunction focus) { m_focus = std::move(focus); }
    // Answers the waiting request with this id; false with why in `message`.
    struct Answered
    {
        bool ok = false;
        QString message;
    };
    using AnswerFunction =
        std::function<Answered(const QString &id, const QString &answer, const QString &reason)>;
    void setAnswer(AnswerFunction answer) { m_answer = std::move(answer); }
    // The remote hosts: add (empty, or why not), remove, and the list as JSON.
    struct Remotes
    {
        std::function<QString(const QString &name, const QString &transport)> add;
        std::function<bool(const QString &name)> remove;
        std::function<QString()> list;
    };
    void setRemotes(Remotes remotes) { m_remotes = std::move(remotes); }
    // Do not disturb, for Quiet() and SetQuiet(); the sessions' "quiet".
    void setQuiet(QuietState *quiet);
    ~BusService() override;

    // False when the object path is taken or the bus is not connected.
    bool registerOn(const QDBusConnection &bus);

    static constexpr int changeIntervalMs = 100;

public Q_SLOTS:
    // com.tolvo.Tolvo
    QString Sessions() const;
    QString Usage() const;
    QString Quiet() const;
    QString SetQuiet(const QString &what);
    QString Problem() const { return m_problem; }
    QString Focus(const QString &target);
    QString Answer(const QString &target, const QString &answer, const QString &reason);
    void AddRemoteHost(const QString &name, const QString &transport);
    void RemoveRemoteHost(const QString &name);
    QString RemoteHosts() const;
    // org.freedesktop.Application: every entry point shows the main window.
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(const QString &actionName, const QVariantList &parameter,
                        const QVariantMap &platformData);

Q_SIGNALS:
    // At most one every changeIntervalMs, however many changes fall into it.
    void Changed();

private:
    SessionListModel &m_sessions;
    std::function<void(const QVariantMap &)> m_activate;
    QTimer m_changeTimer;
    QString m_problem;
    FocusFunction m_focus;
    AnswerFunction m_answer;
    Remotes m_remotes;
    QuietState *m_quiet = nullptr;
    QDBusConnection m_bus{QString()};
};
