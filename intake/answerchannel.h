#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <memory>

class PrivateDirectory;
class QSocketNotifier;

// Tolvo's side of the socket ~/.tolvo/answers on which hook helpers wait
// for the user's answer to a permission request (permissionhold.h).
//
// Only helpers of the same user get in (the folder is private, and the
// peer's credentials are checked). Each helper names its request by an id
// of 128 random bits; a second helper with an id already waiting is turned
// away, so an id stands for exactly one waiting process. An answer goes to
// that process once; anything for an id that does not wait (unknown,
// answered, released, gone) is dropped with a log line. Lives on the main
// thread, driven by socket notifiers.
class AnswerChannel : public QObject
{
    Q_OBJECT
public:
    // `directory` stands in for ~/.tolvo.
    explicit AnswerChannel(const QString &directory, QObject *parent = nullptr);
    ~AnswerChannel() override; // the socket file goes with it

    // Creates the socket; false with problem() set when it cannot (it may be
    // called again, once the folder is usable).
    bool listen();
    bool isListening() const { return m_fd >= 0; }
    QString problem() const { return m_problem; }

    // Sends the decision (one compact JSON object) to the helper waiting
    // under `id`, which must be the process `helperPid`, and lets it go.
    bool answer(const QString &id, qint64 helperPid, const QByteArray &decision);
    // Lets the helper go without a decision.
    void release(const QString &id);
    bool isWaiting(const QString &id) const { return m_waiting.contains(id); }
    int waitingCount() const { return int(m_waiting.size()); }

    // How long a helper has, once connected, to name its request.
    static constexpr int namingTimeoutMs = 2000;

Q_SIGNALS:
    // The helper stopped waiting by itself: it was ended (the terminal's
    // Escape does that), or its bound ran out.
    void ended(const QString &id);

private:
    struct Connection;
    void accept();
    void catchUp();
    void readFrom(Connection *connection);
    void drop(Connection *connection);
    Connection *waiting(const QString &id);
    bool finish(Connection *connection, const QByteArray &line);

    QString m_path;
    std::unique_ptr<PrivateDirectory> m_directory;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QString m_problem;
    QHash<Connection *, std::shared_ptr<Connection>> m_connections;
    QHash<QString, Connection *> m_waiting;
};
