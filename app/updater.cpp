#include "updater.h"

#include "defaultsstore.h"
#include "updatelog.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <cmath>

namespace {

const QString feedUrlKey = QStringLiteral("SUFeedURL");
const QString lastCheckKey = QStringLiteral("SULastCheckTime");
const QString skippedVersionKey = QStringLiteral("SUSkippedVersion");

// Feeds are a few kilobytes; anything this big is not one.
constexpr qint64 maximumFeedBytes = 8 * 1024 * 1024;
constexpr int transferTimeoutMs = 30 * 1000;
// Waits for the next check are measured again at least this often, so that a
// suspended machine or a changed clock does not postpone a due check for long.
constexpr qint64 longestWaitMs = 3600 * 1000;

// Only our own aborts and the transfer timeout cancel a request; an abort
// of ours has its own reason.
QString transferError(const QNetworkReply &reply)
{
    if (reply.error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("the update server did not answer in time");
    if (reply.error() != QNetworkReply::NoError)
        return QStringLiteral("the update feed could not be loaded: ") + reply.errorString();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return QStringLiteral("the update server answered with status %1").arg(status);
    return {};
}

} // namespace

Updater::Updater(DefaultsStore &defaults, QObject *parent)
    : Updater(defaults, compiledFeedUrl(), parent)
{}

Updater::Updater(DefaultsStore &defaults, const QString &builtInFeedUrl, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_builtInFeedUrl(builtInFeedUrl.trimmed()),
      m_network(new QNetworkAccessManager(this))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Updater::scheduledCheckDue);
}

Updater::~Updater() = default;

QString Updater::compiledFeedUrl()
{
    return QStringLiteral(TOLVO_UPDATE_FEED_URL);
}

// The feed decides what the user is asked to download, so it must come over
// https. Plain http is accepted only for loopback hosts, where nothing crosses
// the network: that is how the tests serve their feeds.
QString Updater::feedUrlProblem(const QUrl &url)
{
    if (url.isEmpty())
        return QStringLiteral("no update feed address is set (build option "
                              "TOLVO_UPDATE_FEED_URL or defaults key SUFeedURL)");
    if (!url.isValid())
        return QStringLiteral("the update feed address is not a valid URL: ") + url.toString();
    if (!url.host().isEmpty() && (url.scheme() == u"https" ||
                                  (url.scheme() == u"http" && Appcast::isLoopbackHost(url.host()))))
        return {};
    return QStringLiteral("the update feed address must use https: ") + url.toString();
}

QString Updater::feedAddress() const
{
    if (const auto stored = m_defaults.text(feedUrlKey); stored && !stored->trimmed().isEmpty())
        return stored->trimmed();
    return m_builtInFeedUrl;
}

bool Updater::start(QString *error)
{
    if (m_started)
        return true;
    const QUrl url(feedAddress(), QUrl::StrictMode);
    m_startError = feedUrlProblem(url);
    if (!m_startError.isEmpty()) {
        if (error)
            *error = m_startError;
        return false;
    }
    m_feedUrl = url;
    m_started = true;
    scheduleNextCheck();
    return true;
}

QString Updater::runningVersion() const
{
    return QStringLiteral(TOLVO_VERSION);
}

void Updater::setAutomaticallyChecksForUpdates(bool on)
{
    m_automatic = on;
    scheduleNextCheck();
}

void Updater::setUpdateCheckInterval(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0.0)
        return;
    m_interval = seconds;
    scheduleNextCheck();
}

QDateTime Updater::lastUpdateCheckDate() const
{
    const auto stored = m_defaults.data(lastCheckKey);
    if (!stored)
        return {};
    return QDateTime::fromString(QString::fromUtf8(*stored), Qt::ISODateWithMs);
}

QString Updater::skippedVersion() const
{
    return QString::fromUtf8(m_defaults.data(skippedVersionKey).value_or(QByteArray()));
}

void Updater::skipVersion(const QString &version)
{
    m_defaults.setData(skippedVersionKey, version.toUtf8());
}

void Updater::checkForUpdates()
{
    beginCheck(true);
}

void Updater::scheduleNextCheck()
{
    if (!m_started || !m_automatic || m_reply) {
        m_timer.stop();
        return;
    }
    m_timer.start(static_cast<int>(qMin(msUntilDue(), longestWaitMs)));
}

qint64 Updater::msUntilDue() const
{
    const QDateTime last = lastUpdateCheckDate();
    if (!last.isValid())
        return 0;
    const qint64 sinceMs = last.msecsTo(QDateTime::currentDateTimeUtc());
    // Capped so that the conversion cannot overflow; a century is never.
    const auto intervalMs = static_cast<qint64>(qMin(m_interval, 100 * 365 * 86400.0) * 1000.0);
    // A last check in the future means the clock was set back: check now
    // rather than wait for the clock to catch up.
    if (sinceMs < 0 || sinceMs >= intervalMs)
        return 0;
    return intervalMs - sinceMs;
}

void Updater::scheduledCheckDue()
{
    if (msUntilDue() == 0)
        beginCheck(false);
    else
        scheduleNextCheck();
}

void Updater::beginCheck(bool userInitiated)
{
    if (!m_started) {
        if (userInitiated) {
            Q_EMIT checkFailed(QStringLiteral("the updater is not running: ") + m_startError);
            Q_EMIT checkFinished();
        }
        return;
    }
    if (m_reply) {
        // One request at a time; a user asking during a background check gets its outcome.
        m_userInitiated = m_userInitiated || userInitiated;
        return;
    }
    m_userInitiated = userInitiated;
    m_abortReason.clear();
    m_timer.stop();
    m_defaults.setData(lastCheckKey,
                       QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8());

    QNetworkRequest request(m_feedUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Tolvo/") + runningVersion());
    request.setTransferTimeout(transferTimeoutMs);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    // Redirects must meet the same rule as the feed address itself.
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl &target) {
        if (const QString problem = feedUrlProblem(target); problem.isEmpty()) {
            Q_EMIT reply->redirectAllowed();
        } else {
            m_abortReason = QStringLiteral("the feed redirected elsewhere: ") + problem;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this, reply](qint64 received, qint64 total) {
                if (received > maximumFeedBytes || total > maximumFeedBytes) {
                    m_abortReason =
                        QStringLiteral("the feed is larger than %1 bytes").arg(maximumFeedBytes);
                    reply->abort();
                }
            });
    connect(reply, &QNetworkReply::finished, this, &Updater::replyFinished);
    Q_EMIT checkingChanged(true);
}

void Updater::replyFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const bool userInitiated = m_userInitiated;
    m_userInitiated = false;

    QString error = m_abortReason.isEmpty() ? transferError(*reply) : m_abortReason;

    std::optional<AppcastItem> update;
    if (error.isEmpty()) {
        const AppcastParseResult feed = Appcast::parse(reply->readAll(), reply->url());
        if (feed.ok()) {
            // Only the default channel: no build of Tolvo opts into others.
            update = Appcast::newestUpdate(feed.items, runningVersion(), {});
        } else {
            error = QStringLiteral("the update feed could not be read: ") + feed.error;
        }
    }

    Q_EMIT checkingChanged(false);
    if (!error.isEmpty()) {
        if (userInitiated)
            Q_EMIT checkFailed(error);
        else
            qCInfo(lcUpdate).noquote() << "Update check failed:" << error;
    } else if (!update) {
        if (userInitiated)
            Q_EMIT noUpdateFound();
    } else {
        const QString skipped = skippedVersion();
        const bool wasSkipped =
            !skipped.isEmpty() && Appcast::compareVersions(update->version, skipped) <= 0;
        if (userInitiated || !wasSkipped)
            Q_EMIT updateFound(*update, userInitiated);
    }
    scheduleNextCheck();
    Q_EMIT checkFinished();
}
