#include "terminalpresence.h"

#include "x11windows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Each program gets this long before it is killed.
constexpr int programTimeoutMs = 1000;
// The whole answer: past this it is unknown, whatever still runs.
constexpr int answerTimeoutMs = 1500;

} // namespace

// One question from ask() to its answer: a chain of asynchronous steps along
// the terminal table, each step's completion starting the next.
class PresenceJob : public QObject
{
public:
    PresenceJob(TerminalPresence *owner, const PresenceRequest &request,
                TerminalPresence::Answer answer)
        : QObject(owner), m_owner(owner), m_request(request), m_answer(std::move(answer))
    {}

    void start()
    {
        QTimer::singleShot(answerTimeoutMs, this, [this] { finish(Presence::unknown); });
        QTimer::singleShot(
            0, this, [this] { walk(m_request.terminal, m_request.pid, 0, Presence::inFront); });
    }

private:
    using Done = TerminalCommands::Done;

    void run(const FocusCommand &command, Done done)
    {
        if (m_finished) {
            done(false, {});
            return;
        }
        TerminalCommands::runBounded(this, command, programTimeoutMs, std::move(done));
    }

    // The first terminal from row `from` on whose target builds answers its
    // part; `sofar` is what the steps before it said.
    void walk(const TerminalRecord &record, qint64 pid, qsizetype from, Presence sofar)
    {
        const QList<Terminal> &terminals = TerminalCommands::terminals();
        for (qsizetype row = from; row < terminals.size(); ++row) {
            const Terminal &terminal = terminals.at(row);
            const std::optional<FocusTarget> target = TerminalCommands::target(terminal, record);
            if (!target)
                continue;
            if (const auto *tmux = std::get_if<TmuxPane>(&target->step)) {
                askTmux(*tmux, record, pid, row + 1, sofar);
            } else if (const auto *command = std::get_if<FocusCommand>(&target->step)) {
                if (terminal.name == "kitty"_L1)
                    askKitty(*command, target->shown, record, pid, sofar);
                else if (terminal.name == "WezTerm"_L1)
                    askWezterm(target->shown, record, pid, sofar);
                else // a terminal that cannot say what it shows
                    askWindow(record, pid, PresenceRules::both(sofar, Presence::unknown));
            } else if (std::holds_alternative<KonsoleSession>(target->step)) {
                askWindow(record, pid, PresenceRules::both(sofar, Presence::unknown));
            } else {
                askWindow(record, pid, sofar);
            }
            return;
        }
        askWindow(record, pid, sofar);
    }

    // The client that counts shows the pane or not; its terminal is asked next
    // (a nested tmux is not followed). With no server behind the socket the
    // record's later rows may still say notInFront.
    void askTmux(const TmuxPane &pane, const TerminalRecord &record, qint64 pid, qsizetype next,
                 Presence sofar)
    {
        run(PresenceRules::tmuxClientsQuery(pane), [=, this](bool ok, const QByteArray &output) {
            if (!ok) {
                walk(record, pid, next, PresenceRules::both(sofar, Presence::unknown));
                return;
            }
            const PresenceRules::TmuxView view =
                PresenceRules::tmuxView(QString::fromUtf8(output), pane.pane);
            const Presence shown = PresenceRules::both(sofar, view.presence);
            if (shown == Presence::notInFront || !view.client)
                finish(shown);
            else
                walk(TerminalRecord::fromEnvironment(
                         TerminalCommands::readProcFile(view.client->pid, "environ")),
                     view.client->pid, next, shown);
        });
    }

    // kitty knows whether its OS window has the focus, so its answer stands
    // alone; without one, only its window can say notInFront.
    void askKitty(const FocusCommand &focusWindow, const QString &window,
                  const TerminalRecord &record, qint64 pid, Presence sofar)
    {
        run(PresenceRules::kittyLsQuery(focusWindow), [=, this](bool ok, const QByteArray &output) {
            const Presence kitty =
                ok ? PresenceRules::kittyWindow(output, window) : Presence::unknown;
            if (kitty == Presence::unknown)
                askWindow(record, pid, PresenceRules::both(sofar, Presence::unknown));
            else
                finish(PresenceRules::both(sofar, kitty));
        });
    }

    void askWezterm(const QString &pane, const TerminalRecord &record, qint64 pid, Presence sofar)
    {
        run(PresenceRules::weztermClientsQuery(), [=, this](bool ok, const QByteArray &output) {
            const Presence wezterm =
                ok ? PresenceRules::weztermPane(output, pane) : Presence::unknown;
            askWindow(record, pid, PresenceRules::both(sofar, wezterm));
        });
    }

    // The last step: the terminal's X11 window must be the active one.
    void askWindow(const TerminalRecord &record, qint64 pid, Presence sofar)
    {
        X11Windows *x11 = sofar == Presence::notInFront ? nullptr : m_owner->x11();
        if (!x11) {
            finish(PresenceRules::both(sofar, Presence::unknown));
            return;
        }
        const quint32 window = TerminalFocus::terminalWindow(*x11, record, pid);
        finish(PresenceRules::both(sofar, PresenceRules::window(x11->activeWindow(), window)));
    }

    // Answers from the event loop, so that no step of this job is on the stack
    // should the answer destroy the owner.
    void finish(Presence presence)
    {
        if (m_finished)
            return;
        m_finished = true;
        deleteLater();
        QMetaObject::invokeMethod(
            m_owner, [answer = std::move(m_answer), presence] { answer(presence); },
            Qt::QueuedConnection);
    }

    TerminalPresence *m_owner;
    const PresenceRequest m_request;
    TerminalPresence::Answer m_answer;
    bool m_finished = false;
};

TerminalPresence::TerminalPresence(QObject *parent) : QObject(parent) {}

TerminalPresence::~TerminalPresence()
{
    // The jobs first: their programs are killed before the X11 connection goes.
    qDeleteAll(findChildren<PresenceJob *>(Qt::FindDirectChildrenOnly));
}

void TerminalPresence::ask(const PresenceRequest &request, Answer answer)
{
    (new PresenceJob(this, request, std::move(answer)))->start();
}

X11Windows *TerminalPresence::x11()
{
    if (m_windowSystem == TerminalFocus::WindowSystem::none)
        return nullptr;
    if (!m_x11Tried) {
        m_x11Tried = true;
        m_x11 = X11Windows::open();
    }
    return m_x11.get();
}

namespace PresenceRules {

Presence both(Presence a, Presence b)
{
    if (a == Presence::notInFront || b == Presence::notInFront)
        return Presence::notInFront;
    if (a == Presence::inFront && b == Presence::inFront)
        return Presence::inFront;
    return Presence::unknown;
}

FocusCommand tmuxClientsQuery(const TmuxPane &pane)
{
    // A client's own format values are those of the pane it shows.
    return FocusCommand{u"tmux"_s,
                        {u"-S"_s, pane.socket, u"list-clients"_s, u"-F"_s,
                         u"#{client_control_mode} #{client_activity} #{client_pid} "
                         "#{client_tty} #{pane_id}"_s}};
}

TmuxView tmuxView(const QString &listClientsOutput, const QString &pane)
{
    static const QRegularExpression line(u"\\A([01]) ([0-9]{1,20}) ([0-9]{1,9}) "
                                         "(/dev/[A-Za-z0-9/_.-]{1,64}) (%[0-9]{1,9})\\z"_s);
    TmuxView view;
    qint64 latest = -1;
    bool malformed = false;
    for (const QString &text : listClientsOutput.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch() || match.captured(4).contains(".."_L1)) {
            malformed = true;
            continue;
        }
        if (match.captured(1) == "1"_L1) // control mode: no terminal of its own
            continue;
        const qint64 activity = match.captured(2).toLongLong();
        const bool shows = match.captured(5) == pane;
        if (activity < latest ||
            (activity == latest && (!shows || view.presence == Presence::inFront)))
            continue;
        latest = activity;
        view.client = TmuxClient{match.captured(4), match.captured(3).toLongLong()};
        view.presence = shows ? Presence::inFront : Presence::notInFront;
    }
    // No client at all: nobody sees the pane; only unreadable lines: who knows.
    if (!view.client && !malformed)
        view.presence = Presence::notInFront;
    return view;
}

FocusCommand kittyLsQuery(const FocusCommand &focusWindow)
{
    const qsizetype command = focusWindow.arguments.indexOf(u"focus-window"_s);
    return FocusCommand{focusWindow.program, focusWindow.arguments.mid(0, command < 0 ? 0 : command)
                                                 << u"ls"_s};
}

Presence kittyWindow(const QByteArray &lsJson, const QString &windowId)
{
    bool number = false;
    const int id = windowId.toInt(&number);
    const QJsonDocument document = QJsonDocument::fromJson(lsJson);
    if (!number || !document.isArray())
        return Presence::unknown;
    for (const QJsonValue &osWindow : document.array()) {
        for (const QJsonValue &tab : osWindow["tabs"_L1].toArray()) {
            for (const QJsonValue &window : tab["windows"_L1].toArray()) {
                if (!window["id"_L1].isDouble() || window["id"_L1].toInt() != id)
                    continue;
                const bool focused =
                    window["is_focused"_L1].toBool() && osWindow["is_focused"_L1].toBool();
                return focused ? Presence::inFront : Presence::notInFront;
            }
        }
    }
    return Presence::unknown;
}

FocusCommand weztermClientsQuery()
{
    return FocusCommand{u"wezterm"_s, {u"cli"_s, u"list-clients"_s, u"--format"_s, u"json"_s}};
}

Presence weztermPane(const QByteArray &listClientsJson, const QString &paneId)
{
    bool number = false;
    const int pane = paneId.toInt(&number);
    const QJsonDocument document = QJsonDocument::fromJson(listClientsJson);
    if (!number || !document.isArray())
        return Presence::unknown;
    std::optional<double> shortestIdle;
    Presence presence = Presence::unknown;
    for (const QJsonValue &client : document.array()) {
        const QJsonValue idle = client["idle_time"_L1];
        const QJsonValue focused = client["focused_pane_id"_L1];
        if (!idle["secs"_L1].isDouble() || !focused.isDouble())
            continue;
        const double seconds = idle["secs"_L1].toDouble() + idle["nanos"_L1].toDouble() / 1e9;
        if (shortestIdle && seconds >= *shortestIdle)
            continue;
        shortestIdle = seconds;
        presence = focused.toInt() == pane ? Presence::inFront : Presence::notInFront;
    }
    return presence;
}

Presence window(quint32 activeWindow, quint32 terminalWindow)
{
    if (terminalWindow == 0)
        return Presence::unknown;
    return activeWindow == terminalWindow ? Presence::inFront : Presence::notInFront;
}

} // namespace PresenceRules
