#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>

class QDBusPendingCall;

// Escapes the characters that notification-body markup gives a meaning to
// (&, < and >), so that text from a session is shown exactly as written.
QString escapeNotificationBody(const QString &body);

// How many characters of a title or body go to the server. A megabyte-long
// prompt would otherwise keep the notification server busy for tens of seconds.
inline constexpr qsizetype notificationTextLimit = 2000;

// A title or body as the server can carry it: D-Bus strings end at a NUL, so
// NUL becomes U+FFFD, and the text is shortened to notificationTextLimit.
QString notificationText(const QString &text);

// What a notice may answer: a request's id, and whether to offer Always allow.
struct AnswerableRequest
{
    QString id;
    bool offersAlwaysAllow = false;
};

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus. All calls are
// asynchronous; their answers only ever write log lines.
//
// A notice of a permission request that waits for an answer from Tolvo also
// carries Allow, Always allow (where the request suggests what to allow) and
// Deny; clicking one emits answerRequested() with the request's id.
//
// Every notification carries a default action (clicking it emits activated()
// with the identifier it was sent with) and "Go to Terminal"
// (goToTerminalRequested(), with the activation token the server gave for
// the click, if any); either withdraws it. The identifier names a session:
// a session's new notification replaces its previous one, and one that
// would look exactly like another session's on screen (same title and body:
// two projects of the same name) gets `distinction` as a last line, so that
// a server that merges identical notifications shows both.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    // Tests pass a private, a peer-to-peer or a disconnected bus.
    explicit DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    // Returns at once; the notification goes out a tenth of a second later.
    void sendNotification(const QString &title, const QString &body, const QString &identifier,
                          const QString &distinction = {}, const AnswerableRequest &request = {});
    // Closes the notification of a request that no longer waits, also one
    // still on its way to the server.
    void withdraw(const QString &requestId);

    // False only once the server has said it shows bodies as plain text;
    // until its capabilities are known, bodies are escaped to be safe.
    bool escapesBody() const { return m_bodyMarkup != BodyMarkup::Unsupported; }

    // Notifications on screen (as far as this side knows) by server id.
    int shownCount() const { return int(m_shown.size()); }

Q_SIGNALS:
    void activated(const QString &identifier);
    void goToTerminalRequested(const QString &identifier, const QByteArray &activationToken);
    // `answer`: "allow", "always" or "deny".
    void answerRequested(const QString &requestId, const QString &answer);

private Q_SLOTS:
    void actionInvoked(uint id, const QString &actionKey);
    void notificationClosed(uint id, uint reason);
    void activationToken(uint id, const QString &token);

private:
    enum class BodyMarkup { Unknown, Supported, Unsupported };

    void learnCapabilities();
    struct Shown
    {
        QString identifier;
        QString title;
        QString body; // as sent
        QByteArray activationToken;
        QString requestId;
    };
    struct Waiting
    {
        QString title;
        QString body;
        QString distinction;
        AnswerableRequest request;
    };
    void notify(const QString &identifier, Waiting notice);
    void close(uint id);
    QDBusPendingCall callServer(const QString &method, const QVariantList &arguments) const;
    template<typename Done> void whenFinished(const QDBusPendingCall &call, Done done);

    QDBusConnection m_bus;
    BodyMarkup m_bodyMarkup = BodyMarkup::Unknown;
    QHash<uint, Shown> m_shown;        // server id -> what it shows
    QSet<QString> m_sending;           // identifiers with a call on the bus
    QHash<QString, Waiting> m_waiting; // identifier -> the newest notice after it
    QSet<QString> m_withdrawn;         // requests answered before their notice went out
};
