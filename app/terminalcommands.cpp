#include "terminalcommands.h"

#include "terminalvariables.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

TerminalRecord TerminalRecord::fromJson(const QJsonObject &object)
{
    TerminalRecord record;
    for (const char *name : TerminalVariables::all) {
        const QJsonValue value = object.value(QLatin1StringView(name));
        if (value.isString())
            record.values.insert(QLatin1StringView(name), value.toString());
    }
    return record;
}

TerminalRecord TerminalRecord::fromEnvironment(const QByteArray &environ)
{
    TerminalRecord record;
    for (const QByteArray &entry : environ.split('\0')) {
        const QByteArray name = entry.left(entry.indexOf('='));
        const auto isName = [&name](const char *variable) { return name == variable; };
        if (!name.isEmpty() && std::ranges::any_of(TerminalVariables::all, isName))
            record.values.insert(QString::fromLatin1(name),
                                 QString::fromUtf8(entry.mid(name.size() + 1)));
    }
    return record;
}

namespace TerminalCommands {

namespace {

// Digits only, at most nine of them: fits an int with no sign, space or suffix.
std::optional<int> smallNumber(const QString &text)
{
    static const QRegularExpression digits(u"\\A[0-9]{1,9}\\z"_s);
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    return text.toInt();
}

// TMUX, TMUX_PANE: the server's socket is the first field of TMUX.
std::optional<FocusTarget> tmuxTarget(const QStringList &values)
{
    const QString socket = values.at(0).section(u',', 0, 0);
    const QString &pane = values.at(1);
    if (!pane.startsWith(u'%') || !smallNumber(pane.mid(1)) || !isOwnSocket(socket))
        return std::nullopt;
    return FocusTarget{TmuxPane{socket, pane}, pane};
}

// KITTY_WINDOW_ID, KITTY_LISTEN_ON: `kitty @ focus-window`, through the
// listening address where there is one.
std::optional<FocusTarget> kittyTarget(const QStringList &values)
{
    const std::optional<int> window = smallNumber(values.at(0));
    if (!window)
        return std::nullopt;
    QStringList arguments{u"@"_s};
    const QString &address = values.at(1);
    if (!address.isEmpty()) {
        // A path must be this user's socket; an abstract name ("unix:@kitty-123")
        // has no owner to check, and kitty chooses one of those by default.
        static const QRegularExpression abstractName(u"\\Aunix:@[A-Za-z0-9._-]{1,100}\\z"_s);
        const bool usable = abstractName.match(address).hasMatch() ||
                            (address.startsWith("unix:/"_L1) && isOwnSocket(address.mid(5)));
        if (!usable)
            return std::nullopt;
        arguments << u"--to"_s << address;
    }
    arguments << u"focus-window"_s << u"--match"_s << u"id:%1"_s.arg(*window);
    return FocusTarget{FocusCommand{u"kitty"_s, arguments}, values.at(0)};
}

// WEZTERM_PANE
std::optional<FocusTarget> weztermTarget(const QStringList &values)
{
    const std::optional<int> pane = smallNumber(values.at(0));
    if (!pane)
        return std::nullopt;
    return FocusTarget{
        FocusCommand{u"wezterm"_s,
                     {u"cli"_s, u"activate-pane"_s, u"--pane-id"_s, QString::number(*pane)}},
        values.at(0)};
}

// KONSOLE_DBUS_SERVICE, KONSOLE_DBUS_SESSION
std::optional<FocusTarget> konsoleTarget(const QStringList &values)
{
    static const QRegularExpression service(
        u"\\A(:[0-9]{1,9}\\.[0-9]{1,9}|org\\.kde\\.konsole(-[0-9]{1,9})?)\\z"_s);
    const QString &path = values.at(1);
    if (!service.match(values.at(0)).hasMatch() || !path.startsWith("/Sessions/"_L1))
        return std::nullopt;
    const std::optional<int> session = smallNumber(path.mid(10));
    if (!session)
        return std::nullopt;
    return FocusTarget{KonsoleSession{values.at(0), *session}, QString::number(*session)};
}

// WINDOWID when it is a plain decimal X11 window id; always a target, as the
// window can also be found from the session's process.
std::optional<FocusTarget> windowTarget(const QStringList &values)
{
    static const QRegularExpression digits(u"\\A[0-9]{1,10}\\z"_s);
    const qint64 id = digits.match(values.at(0)).hasMatch() ? values.at(0).toLongLong() : 0;
    return FocusTarget{X11Window{id > 0xffffffffLL ? 0 : quint32(id)}, {}};
}

FocusCommand tmuxCommand(const TmuxPane &pane, const QStringList &command)
{
    return FocusCommand{u"tmux"_s, QStringList{u"-S"_s, pane.socket} + command};
}

} // namespace

const QList<Terminal> &terminals()
{
    using namespace TerminalVariables;
    static const QList<Terminal> table{
        {u"tmux"_s, {tmux, tmuxPane}, tmuxTarget, u"Selected tmux pane %1"_s},
        {u"kitty"_s, {kittyWindowId, kittyListenOn}, kittyTarget, u"Focused kitty window %1"_s},
        {u"WezTerm"_s, {weztermPane}, weztermTarget, u"Activated WezTerm pane %1"_s},
        {u"Konsole"_s,
         {konsoleService, konsoleSession},
         konsoleTarget,
         u"Selected Konsole session %1"_s},
        {u"X11 window"_s,
         {windowId},
         windowTarget,
         u"Asked the window manager to show its terminal"_s},
    };
    return table;
}

std::optional<FocusTarget> target(const Terminal &terminal, const TerminalRecord &record)
{
    QStringList values;
    for (const char *name : terminal.needs)
        values.append(record.values.value(QLatin1StringView(name)));
    return terminal.build(values);
}

bool isOwnSocket(const QString &path)
{
    if (!path.startsWith(u'/') || path.contains(QChar(0)))
        return false;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

FocusCommand tmuxSessionQuery(const TmuxPane &pane)
{
    return tmuxCommand(pane,
                       {u"display-message"_s, u"-p"_s, u"-t"_s, pane.pane, u"#{session_id}"_s});
}

FocusCommand tmuxClientsQuery(const TmuxPane &pane)
{
    return tmuxCommand(pane, {u"list-clients"_s, u"-F"_s,
                              u"#{client_activity} #{client_pid} #{session_id} #{client_tty}"_s});
}

std::optional<TmuxClient> pickTmuxClient(const QString &listClientsOutput, const QString &sessionId)
{
    static const QRegularExpression line(
        u"\\A([0-9]{1,20}) ([0-9]{1,9}) (\\$[0-9]{1,9}) (/dev/[A-Za-z0-9/_.-]{1,64})\\z"_s);
    std::optional<TmuxClient> best;
    qint64 bestActivity = -1;
    bool bestInSession = false;
    for (const QString &text : listClientsOutput.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch() || match.captured(4).contains(u".."_s))
            continue;
        const qint64 activity = match.captured(1).toLongLong();
        const bool inSession = match.captured(3) == sessionId;
        if (best &&
            (bestInSession > inSession || (bestInSession == inSession && bestActivity >= activity)))
            continue;
        best = TmuxClient{match.captured(4), match.captured(2).toLongLong()};
        bestActivity = activity;
        bestInSession = inSession;
    }
    return best;
}

QList<FocusCommand> tmuxCommands(const TmuxPane &pane, const QString &clientTty)
{
    QList<FocusCommand> commands{tmuxCommand(pane, {u"select-window"_s, u"-t"_s, pane.pane}),
                                 tmuxCommand(pane, {u"select-pane"_s, u"-t"_s, pane.pane})};
    if (!clientTty.isEmpty())
        commands.append(
            tmuxCommand(pane, {u"switch-client"_s, u"-c"_s, clientTty, u"-t"_s, pane.pane}));
    return commands;
}

std::optional<qint64> parentFromStat(const QByteArray &stat)
{
    // "<pid> (<command>) <state> <ppid> ...": the command ends at the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 1).trimmed().split(' ');
    if (fields.size() < 2)
        return std::nullopt;
    bool ok = false;
    const qint64 parent = fields.at(1).toLongLong(&ok);
    if (!ok || parent < 0)
        return std::nullopt;
    return parent;
}

QByteArray readProcFile(qint64 pid, const char *name)
{
    QFile file(u"/proc/%1/%2"_s.arg(pid).arg(QLatin1StringView(name)));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return file.read(256 * 1024);
}

QList<qint64> processAncestors(qint64 pid)
{
    QList<qint64> chain;
    while (pid > 1 && chain.size() < 64 && !chain.contains(pid)) {
        chain.append(pid);
        const std::optional<qint64> parent = parentFromStat(readProcFile(pid, "stat"));
        if (!parent)
            break;
        pid = *parent;
    }
    return chain;
}

quint32 chooseWindow(const QList<qint64> &ancestors,
                     const QList<std::pair<quint32, qint64>> &windowPids)
{
    quint32 chosen = 0;
    qsizetype nearest = ancestors.size();
    for (const auto &[window, pid] : windowPids) {
        const qsizetype depth = ancestors.indexOf(pid);
        // Later entries are higher in the stack, so they win a tie.
        if (depth >= 0 && depth <= nearest) {
            chosen = window;
            nearest = depth;
        }
    }
    return chosen;
}

void runBounded(QObject *owner, const FocusCommand &command, int timeoutMs, Done done,
                const QProcessEnvironment &environment)
{
    const QString program = QStandardPaths::findExecutable(command.program);
    if (program.isEmpty()) {
        done(false, {});
        return;
    }
    auto *process = new QProcess(owner);
    if (!environment.isEmpty())
        process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    auto *timer = new QTimer(process);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, process, &QProcess::kill);
    auto report = std::make_shared<Done>(std::move(done));
    const auto once = [process, report](bool ok) {
        if (!*report)
            return;
        const Done finished = std::exchange(*report, nullptr);
        const QByteArray output = ok ? process->readAllStandardOutput() : QByteArray();
        process->deleteLater();
        finished(ok, output);
    };
    QObject::connect(process, &QProcess::finished, owner,
                     [once](int code, QProcess::ExitStatus status) {
                         once(status == QProcess::NormalExit && code == 0);
                     });
    QObject::connect(process, &QProcess::errorOccurred, owner,
                     [once](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             once(false);
                     });
    process->start(program, command.arguments);
    timer->start(timeoutMs);
}

} // namespace TerminalCommands
