#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// One notice on its way to the phone. A push carries no answers: the phone
// only tells that something waits.
struct Push
{
    QString title;
    QString text;
    QString projectPath; // the message's last line
    bool urgent = false; // a permission request: priority "high"
    QString tags;        // comma-separated words, e.g. "tolvo,permission"
};

// Publishes pushes to an ntfy server: `POST <server>/<topic>` with the
// notice as the body and Title, Priority, Tags and (with a token)
// Authorization headers. Everything is asynchronous on the calling thread.
//
// One push is on the wire at a time; the others wait in a queue of at most
// queueLimit, and what does not fit is dropped and counted. A push that meets
// a network error, no answer within the timeout or a 5xx answer is tried
// again after a growing pause, a limited number of times; a 4xx or a
// redirect is final. Plain http goes to this computer only.
class PushSender : public QObject
{
    Q_OBJECT
public:
    static constexpr int queueLimit = 20;

    struct Timing
    {
        int timeoutMs = 10'000;   // per request, until the whole answer is in
        int firstRetryMs = 2'000; // doubled after each further failure
        int longestRetryMs = 60'000;
        int attempts = 4; // in all, the first included
    };

    // Where a push to `topic` goes; an empty URL, and in `problem` why, when
    // the address or the topic is refused.
    static QUrl publishUrl(const QString &server, const QString &topic, QString *problem);
    // localhost, 127.0.0.0/8 and ::1: the hosts that plain http may reach.
    static bool isLoopbackHost(const QString &host);
    // What a refused push says: the "error" of ntfy's JSON answer, bounded,
    // else the status and its reason phrase.
    static QString serverMessage(int status, const QByteArray &answer, const QString &reason);
    // A header value on one line, bounded; RFC 2047 encoded-word when not ASCII.
    static QByteArray headerValue(const QString &text);
    // The pause before retry `retry` (1: the first).
    static int retryDelay(int retry, const Timing &timing);
    // The request body: the text, then the project path as its last line.
    static QByteArray body(const Push &push);

    explicit PushSender(QObject *parent = nullptr);
    ~PushSender() override;

    void setTiming(const Timing &timing) { m_timing = timing; }
    // Sent as a bearer token with every push; empty: none.
    void setToken(const QString &token) { m_token = token.toLatin1(); }
    // While held, pushes queue up and none goes out.
    void setHeld(bool held);

    // Queues a push; false when the address is refused (failed() says why)
    // or the queue is full (dropped).
    bool send(const QString &server, const QString &topic, const Push &push);

    int dropped() const { return m_dropped; }
    int queued() const { return int(m_queue.size()); }

Q_SIGNALS:
    // `status` as the server gave it, e.g. "HTTP 200".
    void delivered(const QString &status);
    void failed(const QString &message);
    void droppedChanged(int dropped);

private:
    struct Queued
    {
        QUrl url;
        Push push;
        int attempts = 0;
    };
    void startNext();
    void finish(QNetworkReply *reply);
    void settle(bool ok, const QString &message);

    Timing m_timing;
    QNetworkAccessManager *m_network;
    QQueue<Queued> m_queue; // the head is on the wire or waits for its retry
    QPointer<QNetworkReply> m_reply;
    QByteArray m_answer; // the head's answer so far, bounded
    bool m_timedOut = false;
    QTimer m_timeout;
    QTimer m_retry;
    QByteArray m_token;
    bool m_held = false;
    int m_dropped = 0;
};
