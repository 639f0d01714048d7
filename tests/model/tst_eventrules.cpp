#include "eventrules.h"
#include "notificationpolicy.h"
#include "permissionanswers.h"
#include "quiet.h"
#include "sessiontext.h"
#include "testsupport.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;
using Text = std::optional<QString>;

namespace {

const Text none;
Text t(const QString &text)
{
    return text;
}
QString input(const QJsonObject &o)
{
    return Records::toolInput(o);
}

// Applies "Event|tool|details|member=value;member=value" lines (empty pieces:
// absent; the members are the newer records' own) to one session in /w/app;
// "clear" empties its log. Returns the notices sent, as bodies.
QStringList play(Session &session, const QStringList &lines,
                 const NotificationPolicy::Preferences &preferences = {})
{
    QStringList bodies;
    quint64 id = 1;
    for (const QString &line : lines) {
        if (line == u"clear") {
            session.activityLog.clear();
            continue;
        }
        const QStringList p = line.split(u'|');
        const auto piece = [&](int i) { return p.size() > i && !p[i].isEmpty() ? t(p[i]) : none; };
        QJsonObject extra;
        for (const QString &member : p.value(3).split(u';', Qt::SkipEmptyParts))
            extra.insert(member.section(u'=', 0, 0),
                         member.section(u'=', 1).replace(u"\\n"_s, u"\n"_s));
        const HookEvent event = Records::event(7, p[0], u"/w/app"_s, piece(1), piece(2), extra);
        EventRules::Applied applied = EventRules::apply(std::move(session), event, 1000.0 + id, id);
        ++id;
        if (const auto notice = NotificationPolicy::decide(applied, event, preferences))
            bodies.append(notice->body);
        session = std::move(applied.session);
    }
    return bodies;
}

Session fresh()
{
    return Session::make(u"ID"_s, 7, u"/w/app"_s, u"app"_s, std::nullopt, 1000.0);
}

QString entryLine(const ActivityEvent &entry)
{
    return hookEventName(entry.kind) + u'|' + entry.tool.value_or(QString()) + u'|' +
           entry.details.value_or(QString());
}

} // namespace

class TestEventRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Do not disturb as scripts and menus set it, and as the header says it.
    void quietSpans_data()
    {
        QTest::addColumn<QString>("what");   // for tolvoctl quiet, or a menu's choice
        QTest::addColumn<double>("seconds"); // from now; -1: refused; 0: off
        QTest::addColumn<QString>("said");   // describe() at 12:00 local; "…" any time
        const auto row = [](const char *what, double seconds, const char *said) {
            QTest::newRow(what) << QString::fromLatin1(what) << seconds << QString::fromUtf8(said);
        };
        row("1h", 3600, "Do not disturb until 13:00");
        row("1h30m", 5400, "Do not disturb until 13:30");
        row("90s", 90, "Do not disturb until 12:01");
        row("13h", 13 * 3600, "Do not disturb until tomorrow, 01:00");
        row("2d", 2 * 86400, "…");
        for (const char *refused : {"", "0m", "h", "1x", "-1h", "1m1h", "400d", "1.5h", "1 h"})
            row(refused, -1, "");
        row("on", 1e300, "Do not disturb");
        row("off", 0, "");
        row("tomorrow", 20 * 3600, "Do not disturb until tomorrow, 08:00");
    }
    void quietSpans()
    {
        QFETCH(QString, what);
        QFETCH(double, seconds);
        QFETCH(QString, said);
        const WallClockTime noon =
            WallClockTime(QDateTime(QDate(2026, 3, 10), QTime(12, 0)).toSecsSinceEpoch());
        const std::optional<double> span = Quiet::durationSeconds(what);
        const std::optional<WallClockTime> until =
            span ? std::optional(noon + *span) : Quiet::untilFor(what, noon);
        const double fromNoon = !until                     ? -1
                                : *until >= Quiet::forever ? 1e300
                                : *until                   ? *until - noon
                                                           : 0;
        QCOMPARE(fromNoon, seconds);
        if (!until)
            return;
        // Kept in tolvo.ini, read back the same to the second.
        const WallClockTime stored = Quiet::untilOf(Quiet::storedUntil(*until));
        QCOMPARE(stored, *until);
        const QString text = Quiet::describe({stored, false, 15}, noon);
        QVERIFY2(said == u"…" ? text.startsWith(u"Do not disturb until 2026-03-12") : text == said,
                 qPrintable(text));
    }

    void toolDescription_data()
    {
        QTest::addColumn<Text>("tool");
        QTest::addColumn<Text>("details");
        QTest::addColumn<Text>("cwd");
        QTest::addColumn<QString>("shown"); // tool|details, empty for absent

        QTest::newRow("WebFetch") << t(u"WebFetch"_s) << t(input({{"url", "https://x.org/a"}}))
                                  << none << u"Fetch|https://x.org/a"_s;
        QTest::newRow("TodoWrite")
            << t(u"TodoWrite"_s) << t(input({{"todos", 1}})) << none << u"Update Todo|"_s;
        QTest::newRow("Bash without command")
            << t(u"Bash"_s) << t(input({{"cmd", "x"}})) << none << u"Bash|{\"cmd\":\"x\"}"_s;
        QTest::newRow("not JSON") << t(u"Bash"_s) << t(u"ls -la"_s) << none << u"Bash|ls -la"_s;
        QTest::newRow("JSON array") << t(u"Bash"_s) << t(u"[1]"_s) << none << u"Bash|[1]"_s;
        QTest::newRow("file inside") << t(u"Edit"_s) << t(input({{"file_path", "/p/src/a.c"}}))
                                     << t(u"/p"_s) << u"Edit|src/a.c"_s;
        QTest::newRow("the directory itself")
            << t(u"Edit"_s) << t(input({{"file_path", "/p"}})) << t(u"/p"_s) << u"Edit|."_s;
        QTest::newRow("file outside") << t(u"Edit"_s) << t(input({{"file_path", "/q/b.c"}}))
                                      << t(u"/p"_s) << u"Edit|/q/b.c"_s;
        QTest::newRow("no directory")
            << t(u"Edit"_s) << t(input({{"file_path", "/p/b.c"}})) << none << u"Edit|/p/b.c"_s;
        QTest::newRow("prefix but sibling") << t(u"Write"_s) << t(input({{"file_path", "/p2/b.c"}}))
                                            << t(u"/p"_s) << u"Write|/p2/b.c"_s;
        QTest::newRow("directory with a slash")
            << t(u"Write"_s) << t(input({{"file_path", "/p/x/../a.c"}})) << t(u"/p/"_s)
            << u"Write|a.c"_s;
        QTest::newRow("no tool name")
            << none << t(input({{"file_path", "/p/a"}})) << t(u"/p"_s) << u"|a"_s;
    }
    void toolDescription()
    {
        QFETCH(Text, tool);
        QFETCH(Text, details);
        QFETCH(Text, cwd);
        const EventRules::Shown shown = EventRules::describeTool(tool, details, cwd);
        QTEST(shown.tool.value_or(QString()) + u'|' + shown.details.value_or(QString()), "shown");
    }

    // What a session shows after a sequence of events: status, tool, last
    // prompt, newest log entry, light, status line, and the notifications sent.
    void sequences_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("state"); // status|currentTool|lastPrompt|log size|colour
        QTest::addColumn<QString>("lastEntry");
        QTest::addColumn<QString>("statusLine");
        QTest::addColumn<QStringList>("notices");

        const QString bash = u"PreToolUse|Bash|"_s + input({{"command", "npm test"}});
        const QString todo = u"PreToolUse|TodoWrite|"_s + input({{"todos", 1}});
        const QString g31(31, u'g'), p130(130, u'p');
        const QString grep31 = u"PostToolUse|Grep|"_s + input({{"pattern", g31}});
        // Plain texts; the one notice sent, if any.
        const auto row = [](const char *name, const QStringList &events, const QString &state,
                            const QString &entry, const QString &line, const QString &notice = {}) {
            QTest::newRow(name) << events << state << entry << line
                                << (notice.isNull() ? QStringList() : QStringList{notice});
        };
        // Colours: 0 gray, 1 green, 2 yellow, 3 red.
        row("prompt", {"UserPromptSubmit||fix it"}, "Working||fix it|1|2",
            "UserPromptSubmit||fix it", "Prompted: fix it");
        row("todo keeps the prompt", {"UserPromptSubmit||p", todo}, "Working|Update Todo|p|2|2",
            "PreToolUse|Update Todo|", "Working: Update Todo");
        row("compact", {"PreCompact||manual"}, "Working||Compacting Context|1|2",
            "PreCompact||Compacting Context", "Working: Compacting Context");
        row("stop clears the tool", {bash, "Stop"}, "Ready||npm test|2|1", "Stop||", "Ready",
            "Completed: npm test");
        row("stop without prompt", {"SubagentStop", "Stop"}, "Ready|||2|1", "Stop||", "Ready",
            "Task completed");
        row("prompt keeps the tool", {bash, "UserPromptSubmit||p"}, "Working|Bash|p|2|2",
            "UserPromptSubmit||p", "Prompted: p");
        row("permission", {bash, "Notification||permission_prompt"},
            "Waiting for Input|Bash|npm test|2|3", "Notification||", "Waiting for Input: Bash",
            "Permission required for: Bash");
        row("idle", {bash, "Notification||idle_prompt"}, "Ready||npm test|2|1", "Notification||",
            "Ready");
        row("notification after stop", {"Stop", "Notification||x"}, "Ready|||2|1", "Notification||",
            "Ready", "Task completed");
        row("working on the prompt", {"UserPromptSubmit||fix the bug", "Notification||x"},
            "Working||fix the bug|2|2", "Notification||", "Working: Prompted",
            "Working on: fix the bug");
        row("action after a tool", {grep31, "Notification||x"}, "Working|Grep|" + g31 + "|2|2",
            "Notification||", "Working: Grep",
            "Action required: Grep → \"" + QString(30, u'g') + "...\"");
        row("cleared log sends nothing", {bash, "Stop", "clear", "Notification||x"},
            "Ready||npm test|1|1", "Notification||", "Ready", "Completed: npm test");
        row("cleared log, working", {bash, "clear"}, "Working|Bash|npm test|0|2", {},
            "Working: Starting Tool");
        row("unknown event", {"Elicitation||x"}, "Off|||0|0", {}, "Waiting for events");
        // Claude Code 2.1's newer events and members.
        const QString rm = u"PermissionRequest|Bash|"_s + input({{"command", "rm -f notes.txt"}});
        const QString asked = u"Waiting for Input|Bash|rm -f notes.txt|2|3"_s,
                      command = u"Bash → rm -f notes.txt"_s;
        row("session start", {"SessionStart|||source=startup"}, "Ready|||1|1", "SessionStart||",
            "Ready");
        row("session resumed", {"SessionStart|||source=resume"}, "Ready|||1|1",
            "SessionStart||resume", "Ready");
        row("compacted mid-turn", {bash, "SessionStart|||source=compact"},
            "Working|Bash|npm test|2|2", "SessionStart||compact", "Working: Bash");
        row("permission request and its notice",
            {bash, rm, "Notification|||notification_type=permission_prompt"}, asked,
            "PermissionRequest|Bash|rm -f notes.txt", "Waiting for Input: " + command,
            "Permission required for: " + command);
        row("a question",
            {"UserPromptSubmit||p", "Notification|elicitation_dialog||notification_type="
                                    "elicitation_dialog;message=Pick one"},
            "Waiting for Input|Question|p|2|3", "Notification|Question|",
            "Waiting for Input: Question", "Pick one");
        row("another notice is only logged",
            {"Stop", "Notification|auth_success||notification_type=auth_success"}, "Ready|||2|1",
            "Notification||", "Ready", "Task completed");
        row("the reply's first line",
            {"UserPromptSubmit||fix it", "Stop|||reply=  All done.\\nDetails follow"},
            "Ready||fix it|2|1", "Stop||", "Ready", "Completed: fix it\nAll done.");
        row("a long prompt above a reply", {"UserPromptSubmit||" + p130, "Stop|||reply=ok"},
            "Ready||" + p130 + "|2|1", "Stop||", "Ready",
            "Completed: " + p130.left(120) + "...\nok");
        row("a long reply", {"Stop|||reply=" + QString(130, u'r')}, "Ready|||1|1", "Stop||",
            "Ready", "Task completed\n" + QString(120, u'r') + "...");
        row("a failed turn", {"UserPromptSubmit||p", "StopFailure|||error=rate_limit"},
            "Failed||p|2|4", "StopFailure||rate_limit", "Failed: Rate limit reached",
            "Failed: Rate limit reached");
        row("the output limit", {"StopFailure|||error=max_output_tokens"}, "Failed|||1|4",
            "StopFailure||max_output_tokens", "Failed: The answer hit the output limit",
            "Failed: The answer hit the output limit");
        row("working again after a failure", {"StopFailure|||error=x", "UserPromptSubmit||p"},
            "Working||p|2|2", "UserPromptSubmit||p", "Prompted: p", "Failed: x");
        row("session end", {"UserPromptSubmit||p", "SessionEnd|||reason=prompt_input_exit"},
            "Ready||p|2|1|exited", "SessionEnd||prompt_input_exit", "Ready");
        row("a tool; a lower-case stop changes nothing", {bash, "stop"},
            "Working|Bash|npm test|1|2", "PreToolUse|Bash|npm test", "Working: Bash → npm test");
    }
    void sequences()
    {
        QFETCH(QStringList, events);
        Session session = fresh();
        const QStringList notices = play(session, events, {true, true, false});
        QTEST(statusText(session.status) + u'|' + session.currentTool.value_or(QString()) + u'|' +
                  session.lastPrompt.value_or(QString()) + u'|' +
                  QString::number(session.activityLog.size()) + u'|' +
                  QString::number(int(session.statusColor())) +
                  (session.exited ? u"|exited"_s : QString()),
              "state");
        QTEST(session.activityLog.isEmpty() ? QString() : entryLine(session.activityLog.last()),
              "lastEntry");
        QTEST(SessionText::statusLine(session, session.lastActivity), "statusLine");
        QTEST(notices, "notices");
    }

    // The switches, one at a time; idle off must not fall through to the permission text.
    void switches_data()
    {
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("switches"); // permission, task complete, idle
        QTest::addColumn<QString>("notice");
        QTest::newRow("permission off")
            << u"Notification||permission_prompt"_s << u"011"_s << QString();
        QTest::newRow("completion off") << u"Stop"_s << u"101"_s << QString();
        QTest::newRow("idle on") << u"Notification||idle_prompt"_s << u"001"_s
                                 << u"Claude Code is now idle"_s;
        QTest::newRow("idle off") << u"Notification||idle_prompt"_s << u"110"_s << QString();
    }
    void switches()
    {
        QFETCH(QString, last);
        QFETCH(QString, switches);
        Session session = fresh();
        const NotificationPolicy::Preferences preferences{switches[0] == u'1', switches[1] == u'1',
                                                          switches[2] == u'1'};
        const QStringList notices =
            play(session, {u"PreToolUse|Bash|"_s + input({{"command", "x"}}), last}, preferences);
        QTEST(notices.value(0), "notice");
    }

    // How one newest entry reads in the row and in a notification that asks for action (the
    // tool's name and its detail, shortened by grapheme clusters) and in the log; null: not
    // checked by that row.
    void newestEntry_data()
    {
        QTest::addColumn<QString>("entry"); // Event|tool|details
        QTest::addColumn<QString>("line");  // the status line
        QTest::addColumn<QString>("body");  // the action notice, with the line
        QTest::addColumn<QString>("texts"); // the log's title | tool text | details text
        const QString x40(40, u'x'), y30(30, u'y'), e = u"e\u0301"_s;
        const QString emoji = u"echo 👍🏽👍🏽 "_s + QString(32, u'z') + u"..."_s;
        const auto row = [](const char *name, const char *tool, const QJsonObject &in,
                            const QString &what, const QString &action) {
            QTest::newRow(name) << u"PreToolUse|"_s + QString::fromUtf8(tool) + u'|' +
                                       Records::toolInput(in)
                                << u"Working: "_s + what << u"Action required: "_s + action
                                << QString();
        };
        const auto logged = [](const char *name, const QString &entry, const QString &texts) {
            QTest::newRow(name) << entry << QString() << QString() << texts;
        };
        row("grep of 30", "Grep", {{"pattern", y30}}, u"Grep → \"%1\""_s.arg(y30),
            u"Grep → \"%1\""_s.arg(y30));
        row("grep of 31", "Grep", {{"pattern", y30 + u'z'}}, u"Grep → \"%1...\""_s.arg(y30),
            u"Grep → \"%1...\""_s.arg(y30));
        row("bash of 40", "Bash", {{"command", x40}}, u"Bash → "_s + x40, u"Bash → "_s + x40);
        row("bash of 41", "Bash", {{"command", x40 + u'z'}}, u"Bash → %1..."_s.arg(x40),
            u"Bash → %1..."_s.arg(x40));
        row("bash, emoji", "Bash", {{"command", u"echo 👍🏽👍🏽 "_s + QString(35, u'z')}},
            u"Bash → "_s + emoji, u"Bash → "_s + emoji);
        row("LS keeps the path", "LS", {{"path", "/home/u/code"}}, u"LS → /home/u/code"_s,
            u"LS → /home/u/code"_s);
        row("a file's name", "Edit", {{"x", 1}, {"file_path", "src/main.c/"}}, u"Edit → main.c"_s,
            u"Edit → main.c"_s);
        row("only slashes", "Edit", {{"file_path", "///"}}, u"Edit"_s, u"Edit → ///"_s);
        row("no slash", "Edit", {{"file_path", "a.c"}}, u"Edit → a.c"_s, u"Edit"_s);
        row("fetch: host", "WebFetch", {{"url", "https://a.io/b?c=1"}}, u"Fetch → a.io"_s,
            u"Fetch → a.io"_s);
        row("fetch, no host", "WebFetch", {{"url", "no url/piece"}}, u"Fetch → piece"_s,
            u"Fetch → piece"_s);
        row("fetch, not a URL", "WebFetch", {{"url", "http://[bad/x"}}, u"Fetch → x"_s,
            u"Fetch → x"_s);
        row("agent", "Task", {{"description", "Look / find"}}, u"Launching Agent → Look / find"_s,
            u"Launching Agent → Look / find"_s);
        row("no details", "TodoRead", {{"a", 1}}, u"Reading Todos"_s, u"Reading Todos"_s);
        QTest::newRow("prompt of 41")
            << u"UserPromptSubmit||"_s + x40 + u'z' << u"Prompted: "_s + x40 + u"..."_s
            << u"Working on: "_s + x40 + u'z' << QString();
        QTest::newRow("41 combined characters") << u"UserPromptSubmit||"_s + e.repeated(41)
                                                << u"Prompted: "_s + e.repeated(40) + u"..."_s
                                                << u"Working on: "_s + e.repeated(41) << QString();
        QTest::newRow("stop, no tool") << u"Stop"_s << u"Ready"_s << QString() << u"Completed||"_s;
        logged("agent starts", u"PreToolUse|Task|{\"description\":\"d\"}"_s,
               u"Launching Agent||d"_s);
        logged("tool", u"PreToolUse|LS|{\"path\":\".\"}"_s, u"Starting Tool|• LS|."_s);
        logged("agent done", u"PostToolUse|Task|{}"_s, u"Agent Completed||{}"_s);
        logged("tool done", u"PostToolUse|Bash|{\"command\":\"ls\"}"_s,
               u"Finished Tool|• Bash|ls"_s);
        logged("subagent", u"SubagentStop"_s, u"Agent Work Finished||"_s);
        logged("compacting", u"PreCompact||auto"_s,
               u"Compacting Context||Trigger: Compacting Context"_s);
        logged("prompt", u"UserPromptSubmit||go"_s, u"Prompted||go"_s);
        logged("session started", u"SessionStart|||source=clear"_s, u"Session started||clear"_s);
        logged("permission", u"PermissionRequest|Write|{\"file_path\":\"/w/app/a.c\"}"_s,
               u"Permission requested|• Write|a.c"_s);
    }
    void newestEntry()
    {
        QFETCH(QString, entry);
        QFETCH(QString, line);
        QFETCH(QString, texts);
        Session session = fresh();
        play(session, {entry});
        const ActivityEvent &newest = session.activityLog.last();
        if (!line.isNull()) {
            QCOMPARE(SessionText::statusLine(session, session.lastActivity), line);
            QTEST(NotificationPolicy::actionText(newest).value_or(QString()), "body");
        }
        if (!texts.isNull())
            QCOMPARE(SessionText::eventTitle(newest) + u'|' + SessionText::logToolText(newest) +
                         u'|' + SessionText::logDetailsText(newest),
                     texts);
    }

    void logKeepsItsNewestEntries()
    {
        Session session = fresh();
        const QString bash = u"PreToolUse|Bash|"_s + input({{"command", "x"}});
        play(session, QStringList(Session::logLimit + 5, bash));
        QCOMPARE(session.activityLog.size(), Session::logLimit);
        QCOMPARE(session.activityLog.first().id, quint64(6));
        QCOMPARE(session.unreadEventCount, Session::logLimit + 5);
    }

    void durations_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("59 s") << 59.9 << QString();
        QTest::newRow("1 min") << 60.0 << u" · 1 min"_s;
        QTest::newRow("59 min") << 3599.0 << u" · 59 min"_s;
        QTest::newRow("1 h") << 3600.0 << u" · 1 h"_s;
        QTest::newRow("1 h 1 min") << 3660.0 << u" · 1 h 1 min"_s;
    }
    void durations()
    {
        QFETCH(double, seconds);
        QTEST(SessionText::durationSuffix(1000, 1000 + seconds), "suffix");
    }

    // How long a session has been in its present state; an event that keeps
    // the state keeps the time.
    void statusLineSaysHowLong()
    {
        Session session = fresh();
        play(session, {u"PreToolUse|Bash|"_s + input({{"command", "ls"}}),
                       u"Notification|||notification_type=permission_prompt"_s});
        const WallClockTime since = session.statusSince;
        QCOMPARE(SessionText::statusLine(session, since + 4 * 60),
                 u"Waiting for Input: Bash · 4 min"_s);
        play(session, {u"Notification|||notification_type=auth_success"_s});
        QCOMPARE(session.statusSince, since);
        session.exited = true;
        QCOMPARE(SessionText::statusLine(session, since + 4 * 60), u"Waiting for Input: Bash"_s);
    }

    // Which waiting requests a session's events settle: "PermissionRequest|tool|command|id"
    // (an id of one letter, repeated to 32; none: not held), else as for play(). The requests
    // left (ids, oldest first) and those let go.
    void requestsSettle_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("waiting");
        QTest::addColumn<QString>("released");
        const auto ask = [](const char *tool, const char *command, const char *id = "") {
            return u"PermissionRequest|%1|%2|%3"_s.arg(QLatin1String(tool), QLatin1String(command),
                                                       QLatin1String(id));
        };
        const auto ran = [](const char *tool, const char *command) {
            return u"PostToolUse|%1|%2"_s.arg(QLatin1String(tool), input({{"command", command}}));
        };
        QTest::newRow("held") << QStringList{ask("Bash", "rm", "a")} << u"a"_s << QString();
        QTest::newRow("not held") << QStringList{ask("Bash", "rm")} << QString() << QString();
        QTest::newRow("a question for the terminal")
            << QStringList{ask("AskUserQuestion", "q")} << QString() << QString();
        QTest::newRow("approved in the terminal")
            << QStringList{ask("Bash", "rm", "a"), ran("Bash", "rm")} << QString() << u"a"_s;
        QTest::newRow("another tool ran")
            << QStringList{ask("Bash", "rm", "a"), ran("Read", "rm")} << u"a"_s << QString();
        QTest::newRow("parallel calls: the one that ran")
            << QStringList{ask("Bash", "rm", "a"), ask("Bash", "ls", "b"), ran("Bash", "ls")}
            << u"a"_s << u"b"_s;
        QTest::newRow("input changed by a hook: the oldest of the tool")
            << QStringList{ask("Bash", "rm", "a"), ask("Bash", "ls", "b"), ran("Bash", "rm -i")}
            << u"b"_s << u"a"_s;
        QTest::newRow("the CLI's own notice changes nothing")
            << QStringList{ask("Bash", "rm", "a"),
                           u"Notification|||notification_type=permission_prompt"_s}
            << u"a"_s << QString();
        QTest::newRow("No at the dialog, then a prompt")
            << QStringList{ask("Bash", "rm", "a"), u"UserPromptSubmit||p"_s} << QString() << u"a"_s;
        QTest::newRow("the turn ends")
            << QStringList{ask("Bash", "rm", "a"), ask("Write", "x", "b"), u"Stop"_s} << QString()
            << u"a b"_s;
    }
    void requestsSettle()
    {
        QFETCH(QStringList, events);
        Session session = fresh();
        QStringList released;
        for (const QString &line : events) {
            const QStringList p = line.split(u'|');
            HookEvent event;
            if (p[0] == u"PermissionRequest") {
                event = Records::event(7, p[0], u"/w/app"_s, p[1], input({{"command", p[2]}}));
                if (!p[3].isEmpty()) {
                    event.requestId = p[3].repeated(32);
                    event.helperPid = 9;
                }
            } else {
                QJsonObject extra;
                for (const QString &member : p.value(3).split(u';', Qt::SkipEmptyParts))
                    extra.insert(member.section(u'=', 0, 0), member.section(u'=', 1));
                event = Records::event(7, p[0], u"/w/app"_s, p.value(1).isEmpty() ? none : t(p[1]),
                                       p.value(2).isEmpty() ? none : t(p[2]), extra);
            }
            EventRules::Applied applied = EventRules::apply(std::move(session), event, 1000.0, 1);
            for (const QString &id : std::as_const(applied.released))
                released.append(id.left(1));
            session = std::move(applied.session);
        }
        QStringList waiting;
        for (const WaitingRequest &request : std::as_const(session.requests))
            waiting.append(request.id.left(1));
        QTEST(waiting.join(u' '), "waiting");
        QTEST(released.join(u' '), "released");
        QCOMPARE(PermissionAnswers::answersInTerminal(session),
                 events.last().startsWith(u"PermissionRequest|AskUserQuestion"));
    }

    // What the three answers send and say.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("suggestions");
        QTest::addColumn<QString>("alwaysText");
        QTest::addColumn<QByteArray>("alwaysDecision");
        const QByteArray project =
            R"([{"type":"addDirectories","directories":["/w/app"],"destination":"session"},)"
            R"({"type":"setMode","mode":"acceptEdits","destination":"session"}])";
        QTest::newRow("a directory and edits, for the session")
            << project << u"Always allow: access to /w/app and edits in this session"_s
            << R"({"behavior":"allow","updatedPermissions":)" + project + '}';
        const QByteArray rules =
            R"([{"type":"addRules","rules":[{"toolName":"Bash","ruleContent":"npm test:*"},)"
            R"({"toolName":"WebFetch"}],"behavior":"allow","destination":"localSettings"},)"
            R"({"type":"setMode","mode":"acceptEdits","destination":"session"}])";
        QTest::newRow("rules kept in the project")
            << rules
            << u"Always allow: Bash(npm test:*), WebFetch in this project; edits in this session"_s
            << R"({"behavior":"allow","updatedPermissions":)" + rules + '}';
        QTest::newRow("no suggestion: no Always allow")
            << QByteArray("[]") << QString()
            << QByteArray(R"({"behavior":"allow","updatedPermissions":[]})");
        QTest::newRow("a deny rule allows nothing")
            << QByteArray(
                   R"([{"type":"addRules","rules":[{"toolName":"Bash"}],"behavior":"deny"}])")
            << QString() << QByteArray();
    }
    void answers()
    {
        QFETCH(QByteArray, suggestions);
        const QJsonArray array = QJsonDocument::fromJson(suggestions).array();
        QTEST(PermissionAnswers::alwaysAllowText(array), "alwaysText");
        const WaitingRequest request{u"id"_s, 9, u"Bash"_s, input({{"command", "rm -f /w/app/x"}}),
                                     array,   0};
        const auto parsed = [](const QByteArray &json) {
            return QJsonDocument::fromJson(json).object();
        };
        QFETCH(QByteArray, alwaysDecision);
        if (!alwaysDecision.isEmpty())
            QCOMPARE(parsed(PermissionAnswers::decision(request,
                                                        PermissionAnswers::Answer::allowAlways)),
                     parsed(alwaysDecision));
        QCOMPARE(PermissionAnswers::decision(request, PermissionAnswers::Answer::allow),
                 R"({"behavior":"allow"})");
        QCOMPARE(PermissionAnswers::decision(request, PermissionAnswers::Answer::deny, u"  "_s),
                 R"({"behavior":"deny","message":"Denied from Tolvo"})");
        QCOMPARE(
            PermissionAnswers::decision(request, PermissionAnswers::Answer::deny, u"not \"now\""_s),
            "{\"behavior\":\"deny\",\"message\":\"not \\\"now\\\"\"}");
        QCOMPARE(PermissionAnswers::requestText(request, u"/w/app"_s), u"Bash: rm -f /w/app/x"_s);
    }

    void texts()
    {
        // Keys sorted, below the top level too; anything but an object or array comes back as is.
        QCOMPARE(SessionText::formattedJSON(R"([{"b": 0, "a": 0}])"),
                 u"[\n    {\n        \"a\": 0,\n        \"b\": 0\n    }\n]"_s);
        QCOMPARE(SessionText::formattedJSON("PID 42 said hello"), u"PID 42 said hello"_s);
        // TZ=UTC: 1700000000 is 22:13:20, rounded down.
        QCOMPARE(SessionText::timeOfDay(1700000000.9996, QLocale(u"de_DE"_s)), u"22:13:20"_s);
        QCOMPARE(SessionText::subtitle(1) + u'|' + SessionText::subtitle(0),
                 u"1 session|0 sessions"_s);
    }
};

QTEST_APPLESS_MAIN(TestEventRules)
#include "tst_eventrules.moc"
