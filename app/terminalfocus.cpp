#include "terminalfocus.h"

#include "x11windows.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QXmlStreamReader>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Each program and each bus call gets this long before it is given up.
constexpr int stepTimeoutMs = 1000;
// How long the window manager gets to make the window active.
constexpr int activationWaitMs = 800;
constexpr int activationPollMs = 20;
// A last resort should a step never report back.
constexpr int jobTimeoutMs = 8000;

// The child nodes of an introspected object whose names are plain numbers.
QStringList numberedChildren(const QString &introspection)
{
    QStringList names;
    QXmlStreamReader xml(introspection);
    int depth = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const QString name = xml.attributes().value("name"_L1).toString();
            bool number = false;
            name.toUInt(&number);
            if (depth == 2 && xml.name() == "node"_L1 && number)
                names.append(name);
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return names;
}

} // namespace

// One request from start to finished(): a chain of asynchronous steps, each
// one's completion starting the next.
class FocusJob : public QObject
{
public:
    FocusJob(TerminalFocus *owner, const FocusRequest &request)
        : QObject(owner), m_owner(owner), m_request(request)
    {}

    // Begins from the event loop, so that finished() never comes from inside focus().
    void start()
    {
        QTimer::singleShot(jobTimeoutMs, this, [this] { finish(); });
        QTimer::singleShot(0, this, [this] { walk(m_request.terminal, m_request.pid, 0); });
    }

private:
    using Done = TerminalCommands::Done;

    void run(const FocusCommand &command, Done done)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!m_request.activationToken.isEmpty())
            environment.insert(u"XDG_ACTIVATION_TOKEN"_s,
                               QString::fromUtf8(m_request.activationToken));
        TerminalCommands::runBounded(this, command, stepTimeoutMs, std::move(done), environment);
    }

    // Runs the commands one after another; ok if all of them succeeded.
    void runAll(QList<FocusCommand> commands, std::function<void(bool ok)> done)
    {
        if (commands.isEmpty()) {
            done(true);
            return;
        }
        const FocusCommand first = commands.takeFirst();
        run(first, [this, commands, done](bool ok, const QByteArray &) {
            if (!ok)
                done(false);
            else
                runAll(commands, done);
        });
    }

    void callBus(const QDBusMessage &message, std::function<void(const QDBusMessage &)> done)
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, stepTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [watcher, done](QDBusPendingCallWatcher *) {
                    watcher->deleteLater();
                    done(watcher->reply());
                });
    }

    void did(const Terminal &terminal, const QString &shown)
    {
        if (!m_result.terminal.isEmpty())
            return;
        m_result.terminal = terminal.name;
        m_done = shown.isEmpty() ? terminal.done : terminal.done.arg(shown);
    }

    // The first terminal from row `from` on whose target builds takes its step.
    void walk(const TerminalRecord &record, qint64 pid, qsizetype from)
    {
        const QList<Terminal> &terminals = TerminalCommands::terminals();
        for (qsizetype row = from; row < terminals.size(); ++row) {
            const Terminal &terminal = terminals.at(row);
            const std::optional<FocusTarget> target = TerminalCommands::target(terminal, record);
            if (!target)
                continue;
            const auto then = [this, &terminal, shown = target->shown, record, pid](bool ok) {
                if (ok)
                    did(terminal, shown);
                raise(record, pid);
            };
            if (const auto *tmux = std::get_if<TmuxPane>(&target->step))
                runTmux(terminal, *tmux, record, pid, row + 1);
            else if (const auto *command = std::get_if<FocusCommand>(&target->step))
                run(*command, [then](bool ok, const QByteArray &) { then(ok); });
            else if (const auto *konsole = std::get_if<KonsoleSession>(&target->step))
                runKonsole(*konsole, then);
            else
                raise(record, pid);
            return;
        }
        raise(record, pid);
    }

    // The pane's server says which session holds the pane and which clients
    // show what; the pane is selected, shown on the most recently used client,
    // and the walk goes on with that client's terminal. With no server behind
    // the socket, the record's later rows may still help.
    void runTmux(const Terminal &terminal, const TmuxPane &pane, const TerminalRecord &record,
                 qint64 pid, qsizetype next)
    {
        run(TerminalCommands::tmuxSessionQuery(pane),
            [=, this, &terminal](bool ok, const QByteArray &output) {
                const QString session = QString::fromUtf8(output).trimmed();
                if (!ok) {
                    walk(record, pid, next);
                } else if (session.isEmpty()) {
                    m_error = u"Its tmux pane %1 is gone"_s.arg(pane.pane);
                    finish();
                } else {
                    run(TerminalCommands::tmuxClientsQuery(pane),
                        [=, this, &terminal](bool, const QByteArray &clients) {
                            selectTmuxPane(terminal, pane, next,
                                           TerminalCommands::pickTmuxClient(
                                               QString::fromUtf8(clients), session));
                        });
                }
            });
    }

    void selectTmuxPane(const Terminal &terminal, const TmuxPane &pane, qsizetype next,
                        const std::optional<TmuxClient> &client)
    {
        runAll(TerminalCommands::tmuxCommands(pane, client ? client->tty : QString()),
               [=, this, &terminal](bool ok) {
                   if (!ok) {
                       m_error = u"Its tmux pane %1 could not be selected"_s.arg(pane.pane);
                       finish();
                       return;
                   }
                   did(terminal, pane.pane);
                   if (!client) {
                       m_note = u"no terminal shows its tmux session"_s;
                       finish();
                       return;
                   }
                   // The client runs in the terminal to bring forward; its own
                   // environment says which one (a nested tmux is not followed).
                   walk(TerminalRecord::fromEnvironment(
                            TerminalCommands::readProcFile(client->pid, "environ")),
                        client->pid, next);
               });
    }

    // Konsole's windows are /Windows/<n>; the one whose session list holds the
    // session makes it current.
    void runKonsole(const KonsoleSession &target, std::function<void(bool ok)> done)
    {
        const QString window = u"org.kde.konsole.Window"_s;
        callBus(QDBusMessage::createMethodCall(target.service, u"/Windows"_s,
                                               u"org.freedesktop.DBus.Introspectable"_s,
                                               u"Introspect"_s),
                [=, this](const QDBusMessage &reply) {
                    const QStringList windows =
                        numberedChildren(reply.arguments().value(0).toString());
                    if (reply.type() != QDBusMessage::ReplyMessage || windows.isEmpty()) {
                        done(false);
                        return;
                    }
                    auto remaining = std::make_shared<qsizetype>(windows.size());
                    auto found = std::make_shared<bool>(false);
                    for (const QString &number : windows) {
                        const QString path = u"/Windows/"_s + number;
                        callBus(QDBusMessage::createMethodCall(target.service, path, window,
                                                               u"sessionList"_s),
                                [=, this](const QDBusMessage &list) {
                                    const bool holds =
                                        list.arguments().value(0).toStringList().contains(
                                            QString::number(target.sessionId));
                                    --*remaining;
                                    if (holds && !*found) {
                                        *found = true;
                                        setKonsoleSession(target, path, done);
                                    } else if (*remaining == 0 && !*found) {
                                        done(false);
                                    }
                                });
                    }
                });
    }

    void setKonsoleSession(const KonsoleSession &target, const QString &path,
                           const std::function<void(bool ok)> &done)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            target.service, path, u"org.kde.konsole.Window"_s, u"setCurrentSession"_s);
        call << target.sessionId;
        callBus(call, [done](const QDBusMessage &reply) {
            done(reply.type() == QDBusMessage::ReplyMessage);
        });
    }

    // The last row, after every other: brings the terminal's top-level window
    // forward on X11, the one WINDOWID names, else the window of the nearest
    // ancestor of `pid` that has one.
    void raise(const TerminalRecord &record, qint64 pid)
    {
        X11Windows *x11 = m_owner->x11();
        if (!x11) {
            finish();
            return;
        }
        const quint32 window = TerminalFocus::terminalWindow(*x11, record, pid);
        if (window == 0 || !x11->requestActivation(window, m_request.userTime)) {
            finish();
            return;
        }
        waitUntilActive(window, activationWaitMs / activationPollMs);
    }

    void waitUntilActive(quint32 window, int polls)
    {
        X11Windows *x11 = m_owner->x11();
        if (x11 && x11->activeWindow() == window) {
            m_result.windowRaised = true;
            did(TerminalCommands::terminals().constLast(), {});
            finish();
        } else if (polls <= 0 || !x11) {
            if (m_result.terminal.isEmpty()) {
                did(TerminalCommands::terminals().constLast(), {});
                m_note = u"switch to it yourself if it did not come forward"_s;
            } else {
                m_note = u"its window did not come forward; switch to it yourself"_s;
            }
            finish();
        } else {
            QTimer::singleShot(activationPollMs, this,
                               [this, window, polls] { waitUntilActive(window, polls - 1); });
        }
    }

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        if (m_result.terminal.isEmpty()) {
            m_result.error = m_error.isEmpty() ? u"Its terminal could not be found"_s : m_error;
        } else if (!m_result.windowRaised) {
            m_result.rowText = m_done + u" — "_s +
                               (m_note.isEmpty() ? u"switch to its window yourself"_s : m_note);
        }
        if (m_owner->m_job == this)
            m_owner->m_job.clear();
        deleteLater();
        Q_EMIT m_owner->finished(m_result);
    }

    TerminalFocus *m_owner;
    const FocusRequest m_request;
    FocusResult m_result;
    QString m_done;
    QString m_note;
    QString m_error;
    bool m_finished = false;
};

TerminalFocus::TerminalFocus(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<FocusResult>();
}

TerminalFocus::~TerminalFocus() = default;

void TerminalFocus::focus(const FocusRequest &request)
{
    delete m_job.data();
    auto *job = new FocusJob(this, request);
    m_job = job;
    job->start();
}

quint32 TerminalFocus::terminalWindow(const X11Windows &x11, const TerminalRecord &record,
                                      qint64 pid)
{
    const std::optional<FocusTarget> target =
        TerminalCommands::target(TerminalCommands::terminals().constLast(), record);
    const X11Window *named = target ? std::get_if<X11Window>(&target->step) : nullptr;
    const quint32 window = named && named->id != 0 ? x11.managedWindowOf(named->id) : 0;
    if (window != 0)
        return window;
    return TerminalCommands::chooseWindow(TerminalCommands::processAncestors(pid),
                                          x11.windowPids());
}

X11Windows *TerminalFocus::x11()
{
    if (m_windowSystem == WindowSystem::none)
        return nullptr;
    if (!m_x11Tried) {
        m_x11Tried = true;
        m_x11 = X11Windows::open();
    }
    return m_x11.get();
}
