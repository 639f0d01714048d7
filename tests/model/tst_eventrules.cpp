#include "eventrules.h"
#include "notificationpolicy.h"
#include "sessiontext.h"
#include "testsupport.h"

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
            extra.insert(member.section(u'=', 0, 0), member.section(u'=', 1).replace(u"\\n"_s, u"\n"_s));
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
    void toolDescription_data()
    {
        QTest::addColumn<Text>("tool");
        QTest::addColumn<Text>("details");
        QTest::addColumn<Text>("cwd");
        QTest::addColumn<QString>("shown"); // tool|details, empty for absent

        QTest::newRow("WebFetch") << t(u"WebFetch"_s) << t(input({{"url", "https://x.org/a"}})) << none << u"Fetch|https://x.org/a"_s;
        QTest::newRow("TodoWrite") << t(u"TodoWrite"_s) << t(input({{"todos", 1}})) << none << u"Update Todo|"_s;
        QTest::newRow("Bash without command") << t(u"Bash"_s) << t(input({{"cmd", "x"}})) << none << u"Bash|{\"cmd\":\"x\"}"_s;
        QTest::newRow("not JSON") << t(u"Bash"_s) << t(u"ls -la"_s) << none << u"Bash|ls -la"_s;
        QTest::newRow("JSON array") << t(u"Bash"_s) << t(u"[1]"_s) << none << u"Bash|[1]"_s;
        QTest::newRow("file inside") << t(u"Edit"_s) << t(input({{"file_path", "/p/src/a.c"}})) << t(u"/p"_s) << u"Edit|src/a.c"_s;
        QTest::newRow("the directory itself") << t(u"Edit"_s) << t(input({{"file_path", "/p"}})) << t(u"/p"_s) << u"Edit|."_s;
        QTest::newRow("file outside") << t(u"Edit"_s) << t(input({{"file_path", "/q/b.c"}})) << t(u"/p"_s) << u"Edit|/q/b.c"_s;
        QTest::newRow("no directory") << t(u"Edit"_s) << t(input({{"file_path", "/p/b.c"}})) << none << u"Edit|/p/b.c"_s;
        QTest::newRow("prefix but sibling") << t(u"Write"_s) << t(input({{"file_path", "/p2/b.c"}})) << t(u"/p"_s) << u"Write|/p2/b.c"_s;
        QTest::newRow("directory with a slash") << t(u"Write"_s) << t(input({{"file_path", "/p/x/../a.c"}})) << t(u"/p/"_s) << u"Write|a.c"_s;
        QTest::newRow("no tool name") << none << t(input({{"file_path", "/p/a"}})) << t(u"/p"_s) << u"|a"_s;
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
        const QString grep31 = u"PostToolUse|Grep|"_s + input({{"pattern", QString(31, u'g')}});
        const QString quoted30 = u"\""_s + QString(30, u'g') + u"...\""_s;
        // Colours: 0 gray, 1 green, 2 yellow, 3 red.
        QTest::newRow("prompt") << QStringList{u"UserPromptSubmit||fix it"_s} << u"Working||fix it|1|2"_s
                                << u"UserPromptSubmit||fix it"_s << u"Prompted: fix it"_s << QStringList{};
        QTest::newRow("tool") << QStringList{bash} << u"Working|Bash|npm test|1|2"_s << u"PreToolUse|Bash|npm test"_s
                              << u"Working: Bash → npm test"_s << QStringList{};
        QTest::newRow("todo keeps the prompt") << QStringList{u"UserPromptSubmit||p"_s, todo} << u"Working|Update Todo|p|2|2"_s
                                               << u"PreToolUse|Update Todo|"_s << u"Working: Update Todo"_s << QStringList{};
        QTest::newRow("compact") << QStringList{u"PreCompact||manual"_s} << u"Working||Compacting Context|1|2"_s
                                 << u"PreCompact||Compacting Context"_s << u"Working: Compacting Context"_s << QStringList{};
        QTest::newRow("stop clears the tool") << QStringList{bash, u"Stop"_s} << u"Ready||npm test|2|1"_s << u"Stop||"_s
                                              << u"Ready"_s << QStringList{u"Completed: npm test"_s};
        QTest::newRow("stop without prompt") << QStringList{u"SubagentStop"_s, u"Stop"_s} << u"Ready|||2|1"_s
                                             << u"Stop||"_s << u"Ready"_s << QStringList{u"Task completed"_s};
        QTest::newRow("prompt keeps the tool") << QStringList{bash, u"UserPromptSubmit||p"_s} << u"Working|Bash|p|2|2"_s
                                               << u"UserPromptSubmit||p"_s << u"Prompted: p"_s << QStringList{};
        QTest::newRow("permission") << QStringList{bash, u"Notification||permission_prompt"_s} << u"Waiting for Input|Bash|npm test|2|3"_s
                                    << u"Notification||"_s << u"Waiting for Input: Bash"_s
                                    << QStringList{u"Permission required for: Bash"_s};
        QTest::newRow("idle") << QStringList{bash, u"Notification||idle_prompt"_s} << u"Ready||npm test|2|1"_s
                              << u"Notification||"_s << u"Ready"_s << QStringList{};
        QTest::newRow("notification after stop") << QStringList{u"Stop"_s, u"Notification||x"_s} << u"Ready|||2|1"_s
                                                 << u"Notification||"_s << u"Ready"_s
                                                 << QStringList{u"Task completed"_s};
        QTest::newRow("working on the prompt") << QStringList{u"UserPromptSubmit||fix the bug"_s, u"Notification||x"_s}
                                               << u"Working||fix the bug|2|2"_s << u"Notification||"_s
                                               << u"Working: Prompted"_s << QStringList{u"Working on: fix the bug"_s};
        QTest::newRow("action after a tool") << QStringList{grep31, u"Notification||x"_s} << u"Working|Grep|"_s + QString(31, u'g') + u"|2|2"_s
                                             << u"Notification||"_s << u"Working: Grep"_s
                                             << QStringList{u"Action required: Grep → "_s + quoted30};
        QTest::newRow("cleared log sends nothing") << QStringList{bash, u"Stop"_s, u"clear"_s, u"Notification||x"_s}
                                                   << u"Ready||npm test|1|1"_s << u"Notification||"_s << u"Ready"_s
                                                   << QStringList{u"Completed: npm test"_s};
        QTest::newRow("cleared log, working") << QStringList{bash, u"clear"_s} << u"Working|Bash|npm test|0|2"_s << QString()
                                              << u"Working: Starting Tool"_s << QStringList{};
        QTest::newRow("unknown event") << QStringList{u"Elicitation||x"_s} << u"Off|||0|0"_s << QString()
                                       << u"Waiting for events"_s << QStringList{};
        // Claude Code 2.1's newer events and members.
        const QString rm = u"PermissionRequest|Bash|"_s + input({{"command", "rm -f notes.txt"}});
        const QString asked = u"Waiting for Input|Bash|rm -f notes.txt|2|3"_s;
        QTest::newRow("session start") << QStringList{u"SessionStart|||source=startup"_s} << u"Ready|||1|1"_s
                                       << u"SessionStart||"_s << u"Ready"_s << QStringList{};
        QTest::newRow("session resumed") << QStringList{u"SessionStart|||source=resume"_s} << u"Ready|||1|1"_s
                                         << u"SessionStart||resume"_s << u"Ready"_s << QStringList{};
        QTest::newRow("compacted mid-turn") << QStringList{bash, u"SessionStart|||source=compact"_s}
                                            << u"Working|Bash|npm test|2|2"_s << u"SessionStart||compact"_s
                                            << u"Working: Bash"_s << QStringList{};
        QTest::newRow("permission request") << QStringList{bash, rm} << asked << u"PermissionRequest|Bash|rm -f notes.txt"_s
                                            << u"Waiting for Input: Bash → rm -f notes.txt"_s
                                            << QStringList{u"Permission required for: Bash → rm -f notes.txt"_s};
        QTest::newRow("its later notice changes nothing")
            << QStringList{bash, rm, u"Notification|||notification_type=permission_prompt"_s} << asked
            << u"PermissionRequest|Bash|rm -f notes.txt"_s << u"Waiting for Input: Bash → rm -f notes.txt"_s
            << QStringList{u"Permission required for: Bash → rm -f notes.txt"_s};
        QTest::newRow("a question") << QStringList{u"UserPromptSubmit||p"_s, u"Notification|elicitation_dialog||notification_type=elicitation_dialog;message=Pick one"_s}
                                    << u"Waiting for Input|Question|p|2|3"_s << u"Notification|Question|"_s
                                    << u"Waiting for Input: Question"_s << QStringList{u"Pick one"_s};
        QTest::newRow("another notice is only logged")
            << QStringList{u"Stop"_s, u"Notification|auth_success||notification_type=auth_success"_s}
            << u"Ready|||2|1"_s << u"Notification||"_s << u"Ready"_s << QStringList{u"Task completed"_s};
        QTest::newRow("the reply's first line")
            << QStringList{u"UserPromptSubmit||fix it"_s, u"Stop|||reply=  All done.\\nDetails follow"_s}
            << u"Ready||fix it|2|1"_s << u"Stop||"_s << u"Ready"_s << QStringList{u"Completed: fix it\nAll done."_s};
        QTest::newRow("a long prompt above a reply")
            << QStringList{u"UserPromptSubmit||"_s + QString(130, u'p'), u"Stop|||reply=ok"_s}
            << u"Ready||"_s + QString(130, u'p') + u"|2|1"_s << u"Stop||"_s << u"Ready"_s
            << QStringList{u"Completed: "_s + QString(120, u'p') + u"...\nok"_s};
        QTest::newRow("a long reply") << QStringList{u"Stop|||reply="_s + QString(130, u'r')} << u"Ready|||1|1"_s
                                      << u"Stop||"_s << u"Ready"_s
                                      << QStringList{u"Task completed\n"_s + QString(120, u'r') + u"..."_s};
        QTest::newRow("a failed turn") << QStringList{u"UserPromptSubmit||p"_s, u"StopFailure|||error=rate_limit"_s}
                                       << u"Failed||p|2|4"_s << u"StopFailure||rate_limit"_s << u"Failed: Rate limit reached"_s
                                       << QStringList{u"Failed: Rate limit reached"_s};
        QTest::newRow("the output limit") << QStringList{u"StopFailure|||error=max_output_tokens"_s} << u"Failed|||1|4"_s
                                          << u"StopFailure||max_output_tokens"_s << u"Failed: The answer hit the output limit"_s
                                          << QStringList{u"Failed: The answer hit the output limit"_s};
        QTest::newRow("working again after a failure")
            << QStringList{u"StopFailure|||error=x"_s, u"UserPromptSubmit||p"_s} << u"Working||p|2|2"_s
            << u"UserPromptSubmit||p"_s << u"Prompted: p"_s << QStringList{u"Failed: x"_s};
        QTest::newRow("session end") << QStringList{u"UserPromptSubmit||p"_s, u"SessionEnd|||reason=prompt_input_exit"_s}
                                     << u"Ready||p|2|1|exited"_s << u"SessionEnd||prompt_input_exit"_s
                                     << u"Ready"_s << QStringList{};
        QTest::newRow("lower-case stop") << QStringList{bash, u"stop"_s} << u"Working|Bash|npm test|1|2"_s
                                         << u"PreToolUse|Bash|npm test"_s << u"Working: Bash → npm test"_s << QStringList{};
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
        QTest::newRow("permission off") << u"Notification||permission_prompt"_s << u"011"_s << QString();
        QTest::newRow("completion off") << u"Stop"_s << u"101"_s << QString();
        QTest::newRow("idle on") << u"Notification||idle_prompt"_s << u"001"_s << u"Claude Code is now idle"_s;
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

    // How one newest entry reads in the row and in a notification that asks for action: the
    // tool's name and its detail, shortened by grapheme clusters.
    void shortened_data()
    {
        QTest::addColumn<QString>("entry"); // Event|tool|details
        QTest::addColumn<QString>("line");  // the status line
        QTest::addColumn<QString>("body");  // the action notice
        const QString x40(40, u'x'), y30(30, u'y'), e = u"e\u0301"_s;
        const QString emoji = u"echo 👍🏽👍🏽 "_s + QString(32, u'z') + u"..."_s;
        const auto row = [](const char *name, const char *tool, const QJsonObject &in,
                            const QString &what, const QString &action) {
            QTest::newRow(name) << u"PreToolUse|"_s + QString::fromUtf8(tool) + u'|' + Records::toolInput(in)
                                << u"Working: "_s + what << u"Action required: "_s + action;
        };
        row("grep of 30", "Grep", {{"pattern", y30}}, u"Grep → \"%1\""_s.arg(y30), u"Grep → \"%1\""_s.arg(y30));
        row("grep of 31", "Grep", {{"pattern", y30 + u'z'}}, u"Grep → \"%1...\""_s.arg(y30), u"Grep → \"%1...\""_s.arg(y30));
        row("bash of 40", "Bash", {{"command", x40}}, u"Bash → "_s + x40, u"Bash → "_s + x40);
        row("bash of 41", "Bash", {{"command", x40 + u'z'}}, u"Bash → %1..."_s.arg(x40), u"Bash → %1..."_s.arg(x40));
        row("bash, emoji", "Bash", {{"command", u"echo 👍🏽👍🏽 "_s + QString(35, u'z')}}, u"Bash → "_s + emoji, u"Bash → "_s + emoji);
        row("LS keeps the path", "LS", {{"path", "/home/u/code"}}, u"LS → /home/u/code"_s, u"LS → /home/u/code"_s);
        row("a file's name", "Edit", {{"x", 1}, {"file_path", "src/main.c/"}}, u"Edit → main.c"_s, u"Edit → main.c"_s);
        row("only slashes", "Edit", {{"file_path", "///"}}, u"Edit"_s, u"Edit → ///"_s);
        row("no slash", "Edit", {{"file_path", "a.c"}}, u"Edit → a.c"_s, u"Edit"_s);
        row("fetch: host", "WebFetch", {{"url", "https://a.io/b?c=1"}}, u"Fetch → a.io"_s, u"Fetch → a.io"_s);
        row("fetch, no host", "WebFetch", {{"url", "no url/piece"}}, u"Fetch → piece"_s, u"Fetch → piece"_s);
        row("fetch, not a URL", "WebFetch", {{"url", "http://[bad/x"}}, u"Fetch → x"_s, u"Fetch → x"_s);
        row("agent", "Task", {{"description", "Look / find"}}, u"Launching Agent → Look / find"_s, u"Launching Agent → Look / find"_s);
        row("no details", "TodoRead", {{"a", 1}}, u"Reading Todos"_s, u"Reading Todos"_s);
        QTest::newRow("prompt of 41") << u"UserPromptSubmit||"_s + x40 + u'z' << u"Prompted: "_s + x40 + u"..."_s
                                      << u"Working on: "_s + x40 + u'z';
        QTest::newRow("41 combined characters") << u"UserPromptSubmit||"_s + e.repeated(41)
                                                << u"Prompted: "_s + e.repeated(40) + u"..."_s << u"Working on: "_s + e.repeated(41);
        QTest::newRow("no tool") << u"Stop"_s << u"Ready"_s << QString();
    }
    void shortened()
    {
        QFETCH(QString, entry);
        Session session = fresh();
        play(session, {entry});
        QTEST(SessionText::statusLine(session, session.lastActivity), "line");
        QTEST(NotificationPolicy::actionText(session.activityLog.last()).value_or(QString()), "body");
    }

    void logLine_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("texts"); // title | tool text | details text
        QTest::newRow("agent starts") << u"PreToolUse|Task|{\"description\":\"d\"}"_s << u"Launching Agent||d"_s;
        QTest::newRow("tool") << u"PreToolUse|LS|{\"path\":\".\"}"_s << u"Starting Tool|• LS|."_s;
        QTest::newRow("agent done") << u"PostToolUse|Task|{}"_s << u"Agent Completed||{}"_s;
        QTest::newRow("tool done") << u"PostToolUse|Bash|{\"command\":\"ls\"}"_s << u"Finished Tool|• Bash|ls"_s;
        QTest::newRow("subagent") << u"SubagentStop"_s << u"Agent Work Finished||"_s;
        QTest::newRow("compacting") << u"PreCompact||auto"_s << u"Compacting Context||Trigger: Compacting Context"_s;
        QTest::newRow("prompt") << u"UserPromptSubmit||go"_s << u"Prompted||go"_s;
        QTest::newRow("stop") << u"Stop"_s << u"Completed||"_s;
        QTest::newRow("session started") << u"SessionStart|||source=clear"_s << u"Session started||clear"_s;
        QTest::newRow("permission") << u"PermissionRequest|Write|{\"file_path\":\"/w/app/a.c\"}"_s
                                    << u"Permission requested|• Write|a.c"_s;
    }
    void logLine()
    {
        QFETCH(QString, entry);
        Session session = fresh();
        play(session, {entry});
        const ActivityEvent &newest = session.activityLog.last();
        QTEST(SessionText::eventTitle(newest) + u'|' + SessionText::logToolText(newest) + u'|' +
                  SessionText::logDetailsText(newest),
              "texts");
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
        QCOMPARE(SessionText::statusLine(session, since + 4 * 60), u"Waiting for Input: Bash · 4 min"_s);
        play(session, {u"Notification|||notification_type=auth_success"_s});
        QCOMPARE(session.statusSince, since);
        session.exited = true;
        QCOMPARE(SessionText::statusLine(session, since + 4 * 60), u"Waiting for Input: Bash"_s);
    }

    void texts()
    {
        // Keys sorted, below the top level too; anything but an object or array comes back as is.
        QCOMPARE(SessionText::formattedJSON(R"([{"b": 0, "a": 0}])"),
                 u"[\n    {\n        \"a\": 0,\n        \"b\": 0\n    }\n]"_s);
        QCOMPARE(SessionText::formattedJSON("PID 42 said hello"), u"PID 42 said hello"_s);
        QCOMPARE(SessionText::formattedJSON("42"), u"42"_s);
        // TZ=UTC: 1700000000 is 22:13:20, rounded down.
        QCOMPARE(SessionText::timeOfDay(1700000000.9996, QLocale(u"de_DE"_s)), u"22:13:20"_s);
        QCOMPARE(SessionText::subtitle(1) + u'|' + SessionText::subtitle(0), u"1 session|0 sessions"_s);
    }
};

QTEST_APPLESS_MAIN(TestEventRules)
#include "tst_eventrules.moc"
