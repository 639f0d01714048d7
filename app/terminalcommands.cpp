#include "terminalcommands.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

TerminalRecord TerminalRecord::fromJson(const QJsonObject &object)
{
    const auto text = [&object](QLatin1StringView key) {
        const QJsonValue value = object.value(key);
        return value.isString() ? value.toString() : QString();
    };
    TerminalRecord record;
    record.tmux = text("TMUX"_L1);
    record.tmuxPane = text("TMUX_PANE"_L1);
    record.termProgram = text("TERM_PROGRAM"_L1);
    record.kittyWindowId = text("KITTY_WINDOW_ID"_L1);
    record.kittyListenOn = text("KITTY_LISTEN_ON"_L1);
    record.weztermPane = text("WEZTERM_PANE"_L1);
    record.windowId = text("WINDOWID"_L1);
    record.konsoleService = text("KONSOLE_DBUS_SERVICE"_L1);
    record.konsoleSession = text("KONSOLE_DBUS_SESSION"_L1);
    record.tty = text("tty"_L1);
    return record;
}

TerminalRecord TerminalRecord::fromEnvironment(const QByteArray &environ)
{
    static const QSet<QByteArray> names{"TMUX",
                                        "TMUX_PANE",
                                        "TERM_PROGRAM",
                                        "KITTY_WINDOW_ID",
                                        "KITTY_LISTEN_ON",
                                        "WEZTERM_PANE",
                                        "WINDOWID",
                                        "KONSOLE_DBUS_SERVICE",
                                        "KONSOLE_DBUS_SESSION"};
    QJsonObject object;
    for (const QByteArray &entry : environ.split('\0')) {
        const qsizetype equals = entry.indexOf('=');
        if (equals > 0 && names.contains(entry.left(equals)))
            object.insert(QString::fromLatin1(entry.left(equals)),
                          QString::fromUtf8(entry.mid(equals + 1)));
    }
    return fromJson(object);
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

} // namespace

bool isOwnSocket(const QString &path)
{
    if (!path.startsWith(u'/') || path.contains(QChar(0)))
        return false;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

std::optional<QString> tmuxSocket(const TerminalRecord &record)
{
    const QString socket = record.tmux.section(u',', 0, 0);
    if (!isOwnSocket(socket))
        return std::nullopt;
    return socket;
}

std::optional<QString> tmuxPane(const TerminalRecord &record)
{
    if (!record.tmuxPane.startsWith(u'%') || !smallNumber(record.tmuxPane.mid(1)))
        return std::nullopt;
    return record.tmuxPane;
}

namespace {

std::optional<FocusCommand> tmuxCommand(const TerminalRecord &record, const QStringList &command)
{
    const std::optional<QString> socket = tmuxSocket(record);
    if (!socket || !tmuxPane(record))
        return std::nullopt;
    return FocusCommand{u"tmux"_s, QStringList{u"-S"_s, *socket} + command};
}

} // namespace

std::optional<FocusCommand> tmuxSessionQuery(const TerminalRecord &record)
{
    return tmuxCommand(
        record, {u"display-message"_s, u"-p"_s, u"-t"_s, record.tmuxPane, u"#{session_id}"_s});
}

std::optional<FocusCommand> tmuxClientsQuery(const TerminalRecord &record)
{
    return tmuxCommand(record, {u"list-clients"_s, u"-F"_s,
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

QList<FocusCommand> tmuxCommands(const TerminalRecord &record, const QString &clientTty)
{
    const QString &pane = record.tmuxPane;
    QList<FocusCommand> commands;
    for (const QStringList &command : {QStringList{u"select-window"_s, u"-t"_s, pane},
                                       QStringList{u"select-pane"_s, u"-t"_s, pane}}) {
        if (const std::optional<FocusCommand> c = tmuxCommand(record, command))
            commands.append(*c);
    }
    if (!commands.isEmpty() && !clientTty.isEmpty()) {
        commands.append(
            *tmuxCommand(record, {u"switch-client"_s, u"-c"_s, clientTty, u"-t"_s, pane}));
    }
    return commands;
}

std::optional<FocusCommand> kittyCommand(const TerminalRecord &record)
{
    const std::optional<int> window = smallNumber(record.kittyWindowId);
    if (!window)
        return std::nullopt;
    QStringList arguments{u"@"_s};
    const QString &address = record.kittyListenOn;
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
    return FocusCommand{u"kitty"_s, arguments};
}

std::optional<FocusCommand> weztermCommand(const TerminalRecord &record)
{
    const std::optional<int> pane = smallNumber(record.weztermPane);
    if (!pane)
        return std::nullopt;
    return FocusCommand{u"wezterm"_s,
                        {u"cli"_s, u"activate-pane"_s, u"--pane-id"_s, QString::number(*pane)}};
}

std::optional<KonsoleTarget> konsoleTarget(const TerminalRecord &record)
{
    static const QRegularExpression service(
        u"\\A(:[0-9]{1,9}\\.[0-9]{1,9}|org\\.kde\\.konsole(-[0-9]{1,9})?)\\z"_s);
    if (!service.match(record.konsoleService).hasMatch() ||
        !record.konsoleSession.startsWith("/Sessions/"_L1))
        return std::nullopt;
    const std::optional<int> session = smallNumber(record.konsoleSession.mid(10));
    if (!session)
        return std::nullopt;
    return KonsoleTarget{record.konsoleService, *session};
}

std::optional<quint32> windowId(const TerminalRecord &record)
{
    static const QRegularExpression digits(u"\\A[0-9]{1,10}\\z"_s);
    if (!digits.match(record.windowId).hasMatch())
        return std::nullopt;
    const qint64 id = record.windowId.toLongLong();
    if (id <= 0 || id > 0xffffffffLL)
        return std::nullopt;
    return quint32(id);
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

} // namespace TerminalCommands
