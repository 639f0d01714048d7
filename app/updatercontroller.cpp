#include "updatercontroller.h"

#include "updatelog.h"

UpdaterController::UpdaterController(DefaultsStore &defaults, QObject *parent)
    : UpdaterController(defaults, Updater::compiledFeedUrl(), parent)
{}

UpdaterController::UpdaterController(DefaultsStore &defaults, const QString &builtInFeedUrl,
                                     QObject *parent)
    : QObject(parent), m_updater(defaults, builtInFeedUrl)
{
    connect(&m_updater, &Updater::checkingChanged, this, &UpdaterController::checkingChanged);
    connect(&m_updater, &Updater::updateFound, this, [this](const AppcastItem &item, bool) {
        m_offered = item;
        m_error.clear();
        setState(State::UpdateAvailable);
        Q_EMIT updateAvailable();
    });
    connect(&m_updater, &Updater::noUpdateFound, this, [this] {
        m_offered.reset();
        m_error.clear();
        setState(State::UpToDate);
        Q_EMIT upToDate();
    });
    connect(&m_updater, &Updater::checkFailed, this, [this](const QString &error) {
        m_offered.reset();
        m_error = error;
        setState(State::CheckFailed);
        Q_EMIT checkFailed(error);
    });

    // Without a feed address (distribution packages update through the
    // package manager) there is nothing to check and nothing to say.
    if (!isAvailable())
        return;
    QString error;
    if (m_updater.start(&error)) {
        m_updater.setAutomaticallyChecksForUpdates(true);
        m_updater.setUpdateCheckInterval(86400.0);
    } else {
        // Not fatal: the application runs on without update checks.
        qCInfo(lcUpdate).noquote() << "Failed to start updater:" << error;
    }
}

QString UpdaterController::title() const
{
    switch (m_state) {
    case State::Idle:
        break;
    case State::UpdateAvailable:
        return QStringLiteral("A new version of Tolvo is available!");
    case State::UpToDate:
        return QStringLiteral("You're up to date!");
    case State::CheckFailed:
        return QStringLiteral("Update check failed");
    }
    return {};
}

QString UpdaterController::message() const
{
    switch (m_state) {
    case State::Idle:
        break;
    case State::UpdateAvailable:
        return availableMessage(offeredVersion(), offeredBuildVersion(), currentVersion());
    case State::UpToDate:
        return QStringLiteral("Tolvo %1 is the newest version available.").arg(currentVersion());
    case State::CheckFailed: {
        // The error reads as the end of "Failed to ...: "; as a sentence of its own it needs a
        // capital letter.
        QString sentence = m_error;
        if (!sentence.isEmpty())
            sentence[0] = sentence[0].toUpper();
        return sentence;
    }
    }
    return {};
}

QString UpdaterController::availableMessage(const QString &offeredDisplay,
                                            const QString &offeredBuild, const QString &running)
{
    QString offered = offeredDisplay;
    if (offeredDisplay == running && offeredBuild != offeredDisplay)
        offered += QStringLiteral(" (%1)").arg(offeredBuild);
    return QStringLiteral("Tolvo %1 is now available \u2014 you have %2.").arg(offered, running);
}

QString UpdaterController::offeredVersion() const
{
    return m_offered ? m_offered->displayVersion() : QString();
}

QString UpdaterController::offeredBuildVersion() const
{
    return m_offered ? m_offered->version : QString();
}

QUrl UpdaterController::releaseNotesUrl() const
{
    return m_offered ? m_offered->releaseNotesLink : QUrl();
}

QUrl UpdaterController::downloadUrl() const
{
    return m_offered ? m_offered->downloadUrl() : QUrl();
}

void UpdaterController::checkForUpdates()
{
    m_updater.checkForUpdates();
}

void UpdaterController::download()
{
    const QUrl url = downloadUrl();
    setState(State::Idle);
    if (url.isValid())
        Q_EMIT downloadRequested(url);
}

void UpdaterController::showReleaseNotes()
{
    if (const QUrl url = releaseNotesUrl(); url.isValid())
        Q_EMIT releaseNotesRequested(url);
}

void UpdaterController::remindLater()
{
    setState(State::Idle);
}

void UpdaterController::skipThisVersion()
{
    if (m_state == State::UpdateAvailable && m_offered)
        m_updater.skipVersion(m_offered->version);
    setState(State::Idle);
}

void UpdaterController::dismiss()
{
    setState(State::Idle);
}

void UpdaterController::setState(State state)
{
    if (state == State::Idle) {
        m_offered.reset();
        m_error.clear();
    }
    // Offers replace offers: the properties may change without the state doing so.
    if (state != m_state || state != State::Idle) {
        m_state = state;
        Q_EMIT stateChanged();
    }
}
