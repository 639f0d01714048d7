#include "application.h"
#include "defaultsstore.h"
#include "desktopnotifier.h"
#include "noticegate.h"
#include "pushnotifier.h"
#include "quietstate.h"
#include "serverquiet.h"
#include "sessionlistmodel.h"
#include "terminalpresence.h"

#include <QDBusConnection>

// The session list's notices, through the quiet rules, to the desktop.
void Application::setUpNotices()
{
    m_notifier = std::make_unique<DesktopNotifier>();
    m_quiet = std::make_unique<QuietState>(*m_defaults);
    m_serverQuiet = std::make_unique<ServerQuiet>(QDBusConnection::sessionBus());
    connect(m_serverQuiet.get(), &ServerQuiet::changed, m_quiet.get(),
            [this] { m_quiet->setInhibited(m_serverQuiet->inhibited()); });
    m_gate = std::make_unique<NoticeGate>(*m_defaults, *m_quiet);
    connect(m_sessions.get(), &SessionListModel::notificationRequested, m_gate.get(),
            &NoticeGate::offer);
    // No notice of the session in front of the user, where Tolvo can tell.
    m_presence = std::make_unique<TerminalPresence>();
    m_gate->setPresence([this](const QString &id, NoticeGate::Answer answer) {
        const int row = m_sessions->rowOfId(id);
        const Session *session = row < 0 ? nullptr : &m_sessions->session(row);
        if (!session || !session->host.isEmpty() || session->pid <= 0 ||
            !session->terminalIsKnown())
            return answer(std::nullopt);
        m_presence->ask({session->pid, TerminalRecord::fromJson(session->terminal)},
                        [answer](Presence presence) {
                            answer(presence == Presence::unknown
                                       ? std::nullopt
                                       : std::optional(presence == Presence::inFront));
                        });
    });
    // Past the quiet rules, a notice also goes to the phone when the user is away.
    m_push = std::make_unique<PushNotifier>(*m_defaults, [this](const QString &id) {
        return m_sessions->waitingRequest(id) != nullptr;
    });
    connect(m_gate.get(), &NoticeGate::passed, m_push.get(),
            [this](const SessionListModel::Notification &n) { m_push->offer(n); });
    connect(m_gate.get(), &NoticeGate::shown, m_notifier.get(),
            [this](const SessionListModel::Notification &n) {
                m_notifier->sendNotification(n.title, n.notice.body, n.sessionId, n.projectPath,
                                             {n.requestId, !n.alwaysText.isEmpty()});
            });
    // A clicked notification leads to its session, or at least to the window;
    // its "Go to Terminal" button to the session's terminal.
    connect(m_notifier.get(), &DesktopNotifier::activated, this, &Application::revealSession);
    connect(m_notifier.get(), &DesktopNotifier::goToTerminalRequested, this,
            [this](const QString &id, const QByteArray &token) { goToTerminal(id, token); });
}
