#include "pushsender.h"

#include "notifylog.h"
#include "textrules.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype headerLimit = 200;  // characters of a title or tags
constexpr qsizetype textLimit = 1000;   // of the notice; ntfy keeps 4 KB as a message
constexpr qsizetype pathLimit = 300;    // of the project path
constexpr qsizetype messageLimit = 200; // of a server's error message
constexpr qsizetype answerLimit = 4096; // bytes of an answer that are kept

// Control characters and line breaks become spaces, runs of spaces one.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text.simplified();
}

} // namespace

QUrl PushSender::publishUrl(const QString &server, const QString &topic, QString *problem)
{
    const auto refuse = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return QUrl();
    };
    const QString address = server.trimmed();
    if (address.isEmpty())
        return refuse(u"No push server is set."_s);
    // ntfy's own rule for topic names.
    static const QRegularExpression topicName(u"^[A-Za-z0-9_-]{1,64}$"_s);
    if (!topicName.match(topic).hasMatch())
        return refuse(u"The topic is 1 to 64 letters, digits, \"-\" or \"_\"."_s);
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != "https"_L1 && scheme != "http"_L1))
        return refuse(u"The server address is not an address like https://ntfy.example.org."_s);
    if (scheme == "http"_L1 && !isLoopbackHost(url.host()))
        return refuse(u"Plain http goes to this computer only (localhost); the server "
                      "needs https."_s);
    if (!url.userInfo().isEmpty())
        return refuse(u"The server address carries no user name or password; a token "
                      "goes into the token field."_s);
    if (url.hasQuery() || url.hasFragment())
        return refuse(u"The server address has no \"?\" or \"#\" part."_s);
    QUrl publish = url;
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    publish.setPath(path + u'/' + topic);
    return publish;
}

bool PushSender::isLoopbackHost(const QString &host)
{
    return host.compare("localhost"_L1, Qt::CaseInsensitive) == 0 ||
           QHostAddress(host).isLoopback();
}

QString PushSender::serverMessage(int status, const QByteArray &answer, const QString &reason)
{
    const QString said = QJsonDocument::fromJson(answer).object().value("error"_L1).toString();
    const QString line = oneLine(said.isEmpty() ? reason : said);
    const QString http = u"HTTP "_s + QString::number(status);
    return line.isEmpty() ? http : http + u": "_s + TextRules::shortened(line, messageLimit);
}

QByteArray PushSender::headerValue(const QString &text)
{
    const QByteArray utf8 = TextRules::shortened(oneLine(text), headerLimit).toUtf8();
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return c >= 0; });
    return ascii ? utf8 : "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

int PushSender::retryDelay(int retry, const Timing &timing)
{
    qint64 delay = timing.firstRetryMs;
    for (int i = 1; i < retry && delay < timing.longestRetryMs; ++i)
        delay *= 2;
    return int(std::min<qint64>(delay, timing.longestRetryMs));
}

QByteArray PushSender::body(const Push &push)
{
    QString text = TextRules::shortened(push.text, textLimit);
    const QString path = TextRules::shortened(oneLine(push.projectPath), pathLimit);
    if (!path.isEmpty())
        text += (text.isEmpty() ? u""_s : u"\n\n"_s) + path;
    return text.toUtf8();
}

PushSender::PushSender(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this))
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        if (m_reply)
            m_reply->abort();
    });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PushSender::startNext);
}

PushSender::~PushSender()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

void PushSender::setHeld(bool held)
{
    m_held = held;
    startNext();
}

bool PushSender::send(const QString &server, const QString &topic, const Push &push)
{
    QString problem;
    const QUrl url = publishUrl(server, topic, &problem);
    if (url.isEmpty()) {
        Q_EMIT failed(problem);
        return false;
    }
    if (m_queue.size() >= queueLimit) {
        qCInfo(lcNotify, "Push dropped: %d are waiting already", int(m_queue.size()));
        Q_EMIT droppedChanged(++m_dropped);
        return false;
    }
    m_queue.enqueue({url, push});
    startNext();
    return true;
}

void PushSender::startNext()
{
    if (m_held || m_reply || m_retry.isActive() || m_queue.isEmpty())
        return;
    Queued &head = m_queue.head();
    ++head.attempts;
    QNetworkRequest request(head.url);
    // The token goes to the address the user set, and to no other.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain; charset=utf-8"_ba);
    request.setRawHeader("Title", headerValue(head.push.title));
    request.setRawHeader("Priority", head.push.urgent ? "high"_ba : "default"_ba);
    if (!head.push.tags.isEmpty())
        request.setRawHeader("Tags", headerValue(head.push.tags));
    if (!m_token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token);
    m_answer.clear();
    m_timedOut = false;
    QNetworkReply *reply = m_network->post(request, body(head.push));
    m_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        const QByteArray chunk = reply->readAll();
        m_answer += chunk.left(std::max<qsizetype>(0, answerLimit - m_answer.size()));
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
    m_timeout.start(m_timing.timeoutMs);
}

void PushSender::finish(QNetworkReply *reply)
{
    m_timeout.stop();
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    if (reply->isReadable()) // not after an abort
        m_answer += reply->readAll().left(std::max<qsizetype>(0, answerLimit - m_answer.size()));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (status >= 200 && status < 300 && !m_timedOut)
        return settle(true, u"HTTP "_s + QString::number(status));
    if (status >= 300 && status < 500 && !m_timedOut) {
        const QString message = serverMessage(status, m_answer, reason);
        return settle(false, status < 400 ? message + u" (the server points elsewhere: set "
                                                      "the address it names)"_s
                                          : message);
    }
    const QString why = m_timedOut ? u"No answer within %1 s"_s.arg(m_timing.timeoutMs / 1000.0)
                        : status >= 500 ? serverMessage(status, m_answer, reason)
                                        : oneLine(reply->errorString());
    if (m_queue.head().attempts >= m_timing.attempts)
        return settle(false, u"%1 (tried %2 times)"_s.arg(why).arg(m_timing.attempts));
    qCInfo(lcNotify).noquote() << "Push failed, trying again:" << why;
    m_retry.start(retryDelay(m_queue.head().attempts, m_timing));
}

void PushSender::settle(bool ok, const QString &message)
{
    m_queue.dequeue();
    if (ok) {
        Q_EMIT delivered(message);
    } else {
        qCInfo(lcNotify).noquote() << "Push failed:" << message;
        Q_EMIT failed(message);
    }
    startNext();
}
