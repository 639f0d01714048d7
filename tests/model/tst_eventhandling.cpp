#include "eventrules.h"
#include "managerfixture.h"

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {
using OptText = std::optional<QString>;
const OptText none;
OptText t(const char *text) { return QString::fromUtf8(text); }

// "Event|tool|details" with empty pieces standing for absent.
struct Step { QString event; OptText tool; OptText details; };
Step step(const QString &line)
{
    const QStringList p = line.split(u'|');
    const auto piece = [&](int i) { return p.size() > i && !p[i].isEmpty() ? OptText(p[i]) : none; };
    return {p[0], piece(1), piece(2)};
}
} // namespace

class TestEventHandling : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toolDescription_data()
    {
        QTest::addColumn<OptText>("tool");
        QTest::addColumn<OptText>("details");
        QTest::addColumn<OptText>("cwd");
        QTest::addColumn<OptText>("shownTool");
        QTest::addColumn<OptText>("shownDetails");

        const auto in = [](const QJsonObject &o) { return OptText(toolInput(o)); };
        QTest::newRow("WebFetch") << t("WebFetch") << in({{"url", "https://x.org/a"}}) << none << t("Fetch") << t("https://x.org/a");
        QTest::newRow("TodoWrite") << t("TodoWrite") << in({{"todos", 1}}) << none << t("Update Todo") << none;
        QTest::newRow("Grep") << t("Grep") << in({{"pattern", "foo"}}) << none << t("Grep") << t("foo");
        QTest::newRow("WebSearch") << t("WebSearch") << in({{"query", "qt"}}) << none << t("Web Search") << t("qt");
        QTest::newRow("NotebookEdit") << t("NotebookEdit") << in({{"a", 1}}) << none << t("Editing Notebook") << t(R"({"a":1})");
        QTest::newRow("Bash") << t("Bash") << in({{"command", "ls -la"}}) << none << t("Bash") << t("ls -la");
        QTest::newRow("Task") << t("Task") << in({{"description", "Find"}}) << none << t("Launching Agent") << t("Find");
        QTest::newRow("Bash without command") << t("Bash") << in({{"cmd", "x"}}) << none << t("Bash") << t(R"({"cmd":"x"})");
        QTest::newRow("not JSON") << t("Bash") << t("ls -la") << none << t("Bash") << t("ls -la");
        QTest::newRow("JSON array") << t("Bash") << t("[1]") << none << t("Bash") << t("[1]");
        QTest::newRow("file inside") << t("Edit") << in({{"file_path", "/p/src/a.c"}}) << t("/p") << t("Edit") << t("src/a.c");
        QTest::newRow("the directory itself") << t("Edit") << in({{"file_path", "/p"}}) << t("/p") << t("Edit") << t(".");
        QTest::newRow("file outside") << t("Edit") << in({{"file_path", "/q/b.c"}}) << t("/p") << t("Edit") << t("/q/b.c");
        QTest::newRow("no directory") << t("Edit") << in({{"file_path", "/p/b.c"}}) << none << t("Edit") << t("/p/b.c");
        QTest::newRow("prefix but sibling") << t("Write") << in({{"file_path", "/p2/b.c"}}) << t("/p") << t("Write") << t(".2/b.c");
        QTest::newRow("no tool name") << none << in({{"file_path", "/p/a"}}) << t("/p") << none << t("a");
    }
    void toolDescription()
    {
        QFETCH(OptText, tool);
        QFETCH(OptText, details);
        QFETCH(OptText, cwd);
        QFETCH(OptText, shownTool);
        QFETCH(OptText, shownDetails);
        const auto shown = EventRules::describeTool(tool, details, cwd);
        QCOMPARE(shown.tool, shownTool);
        QCOMPARE(shown.details, shownDetails);
    }

    void actionText_data()
    {
        QTest::addColumn<QString>("eventType");
        QTest::addColumn<OptText>("tool");
        QTest::addColumn<OptText>("details");
        QTest::addColumn<QString>("body");

        const QString x31 = QString(31, u'x');
        const QString y41 = QString(41, u'y');
        QTest::newRow("prompt") << "UserPromptSubmit" << none << t("fix it") << "Working on: fix it";
        QTest::newRow("no tool") << "Stop" << none << t("d") << "Notification";
        QTest::newRow("no details") << "PreToolUse" << t("Bash") << none << "Action required: Bash";
        QTest::newRow("Fetch host") << "PreToolUse" << t("Fetch") << t("https://docs.qt.io/qt-6/x.html") << "Action required: Fetch → docs.qt.io";
        QTest::newRow("Fetch no host") << "PreToolUse" << t("Fetch") << t("a/b") << "Action required: Fetch → a/b";
        QTest::newRow("Fetch not a URL") << "PreToolUse" << t("Fetch") << t("http://[bad/x") << "Action required: Fetch → x";
        QTest::newRow("Grep 31") << "PreToolUse" << t("Grep") << OptText(x31) << "Action required: Grep → \"" + x31.left(30) + "...\"";
        QTest::newRow("Bash 41") << "PreToolUse" << t("Bash") << OptText(y41) << "Action required: Bash → " + y41.left(40) + "...";
        QTest::newRow("Bash emoji") << "PreToolUse" << t("Bash") << OptText(QString::fromUtf8("echo 👍🏽👍🏽 ") + QString(35, u'z'))
                                    << QString::fromUtf8("Action required: Bash → echo 👍🏽👍🏽 ") + QString(32, u'z') + "...";
        QTest::newRow("Launching Agent") << "PreToolUse" << t("Launching Agent") << t("Find x") << "Action required: Launching Agent → Find x";
        QTest::newRow("Update Todo") << "PreToolUse" << t("Update Todo") << t("x/y") << "Action required: Update Todo";
        QTest::newRow("other with path") << "PreToolUse" << t("Edit") << t("src/main.c/") << "Action required: Edit → main.c";
        QTest::newRow("other only slashes") << "PreToolUse" << t("Edit") << t("//") << "Action required: Edit → //";
    }
    void actionText()
    {
        QFETCH(QString, eventType);
        QFETCH(OptText, tool);
        QFETCH(OptText, details);
        QFETCH(QString, body);
        QCOMPARE(EventRules::actionText(ActivityEvent{QUuid(), 0, eventType, tool, details, {}}), body);
    }

    // The state an instance is left in by a sequence of events.
    void dispatch_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("status");
        QTest::addColumn<OptText>("currentTool");
        QTest::addColumn<OptText>("lastPrompt");
        QTest::addColumn<QString>("lastEntry"); // "type|tool|details" of the newest log entry; empty: no log
        QTest::addColumn<int>("logSize");

        const QString bash = "PreToolUse|Bash|" + toolInput({{"command", "ls -la"}});
        const QString todo = "PreToolUse|TodoWrite|" + toolInput({{"todos", 1}});
        const int working = int(InstanceStatus::working);
        const int ready = int(InstanceStatus::ready);
        const int waiting = int(InstanceStatus::waitingForInput);

        QTest::newRow("prompt") << QStringList{"UserPromptSubmit||fix"} << working << none << t("fix") << "UserPromptSubmit||fix" << 1;
        QTest::newRow("tool") << QStringList{bash} << working << t("Bash") << t("ls -la") << "PreToolUse|Bash|ls -la" << 1;
        QTest::newRow("todo keeps prompt") << QStringList{"UserPromptSubmit||p", todo} << working << t("Update Todo") << t("p")
                                           << "PreToolUse|Update Todo|" << 2;
        QTest::newRow("compact") << QStringList{"PreCompact||manual"} << working << none << t("Compacting Context")
                                 << "PreCompact||Compacting Context" << 1;
        QTest::newRow("stop clears tool") << QStringList{bash, "Stop||x"} << ready << none << t("ls -la") << "Stop||" << 2;
        QTest::newRow("prompt keeps tool") << QStringList{bash, "UserPromptSubmit||p"} << working << t("Bash") << t("p") << "UserPromptSubmit||p" << 2;
        QTest::newRow("permission") << QStringList{bash, "Notification||Claude needs your permission"} << waiting << t("Bash") << t("ls -la")
                                    << "Notification||" << 2;
        QTest::newRow("idle") << QStringList{bash, "Notification||Claude is idle"} << ready << none << t("ls -la") << "Notification||" << 2;
        QTest::newRow("notification after stop") << QStringList{"Stop", "Notification||x"} << ready << none << none << "Notification||" << 2;
        QTest::newRow("notification otherwise") << QStringList{"UserPromptSubmit||p", "Notification||x"} << working << none << t("p")
                                                << "Notification||" << 2;
        QTest::newRow("unknown event") << QStringList{"SessionStart||x"} << int(InstanceStatus::off) << none << none << "" << 0;
        QTest::newRow("lower-case stop") << QStringList{bash, "stop"} << working << t("Bash") << t("ls -la") << "PreToolUse|Bash|ls -la" << 1;
    }
    void dispatch()
    {
        QFETCH(QStringList, events);
        QFETCH(int, status);
        QFETCH(OptText, currentTool);
        QFETCH(OptText, lastPrompt);
        QFETCH(QString, lastEntry);
        QFETCH(int, logSize);

        ManagerFixture f;
        f.start();
        for (const QString &line : events) {
            const Step s = step(line);
            f.send(s.event, 7, QStringLiteral("/w/app"), s.tool, s.details);
        }
        const ClaudeCodeInstance &i = f.byPid(7);
        QCOMPARE(int(i.status), status);
        QCOMPARE(i.currentTool, currentTool);
        QCOMPARE(i.lastPrompt, lastPrompt);
        QCOMPARE(i.activityLog.size(), logSize);
        QCOMPARE(i.unreadEventCount, logSize);
        if (logSize > 0) {
            const ActivityEvent &e = i.activityLog.last();
            QCOMPARE(e.eventType + u'|' + e.toolName.value_or(QString()) + u'|' + e.details.value_or(QString()), lastEntry);
        }
    }

    // Which notification, if any, a sequence of events posts; toggles in order
    // permission, task complete, idle.
    void notifications_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("toggles");
        QTest::addColumn<QStringList>("bodies");

        const QString bash = "PreToolUse|Bash|" + toolInput({{"command", "npm test"}});
        QTest::newRow("permission") << QStringList{bash, "Notification||needs permission"} << "110" << QStringList{"Permission required for: Bash"};
        QTest::newRow("permission off") << QStringList{bash, "Notification||needs permission"} << "010" << QStringList{};
        QTest::newRow("stop with prompt") << QStringList{bash, "Stop"} << "110" << QStringList{"Completed: npm test"};
        QTest::newRow("stop without prompt") << QStringList{"SubagentStop", "Stop"} << "110" << QStringList{"Task completed"};
        QTest::newRow("idle on") << QStringList{"Stop", "Notification||waiting, idle"} << "111"
                                 << QStringList{"Claude Code is now idle"};
        QTest::newRow("idle off does not fall through") << QStringList{bash, "Notification||idle"} << "110" << QStringList{};
        QTest::newRow("working on prompt") << QStringList{"UserPromptSubmit||fix the bug", "Notification||x"} << "100"
                                           << QStringList{"Working on: fix the bug"};
        QTest::newRow("action after post tool") << QStringList{"PostToolUse|Grep|" + toolInput({{"pattern", QString(31, u'g')}}), "Notification||x"}
                                                << "100" << QStringList{"Action required: Grep → \"" + QString(30, u'g') + "...\""};
        QTest::newRow("empty log after clear") << QStringList{"clear", "Notification||x"} << "111" << QStringList{};
        QTest::newRow("unknown event changes nothing") << QStringList{"Elicitation", "Notification||x"} << "111" << QStringList{"Notification"};
    }
    void notifications()
    {
        QFETCH(QStringList, events);
        QFETCH(QString, toggles);
        QFETCH(QStringList, bodies);

        ManagerFixture f;
        f.start();
        f.defaults->setBool(NotificationKeys::permissionRequired, toggles[0] == u'1');
        f.defaults->setBool(NotificationKeys::taskComplete, toggles[1] == u'1');
        f.defaults->setBool(NotificationKeys::idle, toggles[2] == u'1');
        f.send(QStringLiteral("SubagentStop"), 9, QStringLiteral("/w/shop"));
        for (const QString &line : events) {
            if (line == u"clear") {
                f.manager->clearActivityLog(f.byPid(9).id);
                continue;
            }
            const Step s = step(line);
            f.send(s.event, 9, QStringLiteral("/w/shop"), s.tool, s.details);
        }
        // The first event above may itself be a Stop whose body is not under test.
        QStringList sent;
        for (const auto &n : f.notifier.sent) {
            QCOMPARE(n.title, QStringLiteral("Claude Code - shop"));
            QVERIFY(n.identifier.startsWith(QStringLiteral("9-")));
            sent.append(n.body);
        }
        if (events.first() == u"Stop" && toggles[1] == u'1')
            sent.removeFirst();
        QCOMPARE(sent, bodies);
    }

    void togglesAreReadAfreshForEachEvent()
    {
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("Stop"), 3, QStringLiteral("/w/a"));
        f.defaults->setBool(NotificationKeys::taskComplete, false);
        f.send(QStringLiteral("Stop"), 3, QStringLiteral("/w/a"));
        f.defaults->setBool(NotificationKeys::taskComplete, true);
        f.send(QStringLiteral("Stop"), 3, QStringLiteral("/w/a"));
        QCOMPARE(f.notifier.sent.size(), 2);
    }

    void unknownDirectoryIsFilledInOnce()
    {
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("SessionStart"), 4, std::nullopt);
        QCOMPARE(f.byPid(4).projectName, QStringLiteral("Unknown"));
        QVERIFY(f.manager->customNames().isEmpty() && f.manager->savedInstanceData().isEmpty());
        QVERIFY(f.manager->hasReceivedFirstEvent());

        f.manager->updateCustomNames({{QStringLiteral("/work/app"), QStringLiteral("App")}});
        f.console.clear();
        f.send(QStringLiteral("Stop"), 4, QStringLiteral("/work/app"));
        QCOMPARE(f.byPid(4).projectName, QStringLiteral("app"));
        QCOMPARE(f.byPid(4).displayName(), QStringLiteral("App"));
        QVERIFY(f.console.lines().contains(QStringLiteral("📁 Updated project path for PID 4 to /work/app")));
        QVERIFY(f.console.lines().contains(QStringLiteral("🏷️ Applied saved custom name 'App' for /work/app")));
        QCOMPARE(f.manager->savedInstanceData().value(QStringLiteral("/work/app")).id, f.byPid(4).id);

        f.send(QStringLiteral("Stop"), 4, QStringLiteral("/elsewhere"));
        QCOMPARE(f.byPid(4).projectPath, QStringLiteral("/work/app"));
    }

    void placeholderRevivesInPlace()
    {
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("Stop"), 1, QStringLiteral("/w/a"));
        f.send(QStringLiteral("Stop"), 2, QStringLiteral("/w/b"));
        f.manager->updateCustomName(f.byPid(2).id, QStringLiteral("Bee"));
        const QStringList ids = f.sortedIds();

        f.restart();
        f.console.clear();
        f.send(QStringLiteral("UserPromptSubmit"), 77, QStringLiteral("/w/b"), std::nullopt, QStringLiteral("go"));
        QCOMPARE(f.sortedIds(), ids);
        QCOMPARE(f.manager->instances().at(1).pid, 77);
        QCOMPARE(f.byPid(77).id, ids.at(1));
        QCOMPARE(f.byPid(77).displayName(), QStringLiteral("Bee"));
        QCOMPARE(f.byPid(77).status, InstanceStatus::working);
        QVERIFY(f.console.lines().contains(QStringLiteral("♻️ Replaced restored instance with live instance for /w/b")));
    }

    // Only placeholders are revived: a second live process gets its own instance.
    void secondProcessInALiveDirectory()
    {
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("Stop"), 1, QStringLiteral("/w/a"));
        f.manager->updateCustomName(f.byPid(1).id, QStringLiteral("Ay"));
        f.console.clear();
        f.send(QStringLiteral("Stop"), 2, QStringLiteral("/w/a"));

        QCOMPARE(f.manager->instances().size(), 2);
        QVERIFY(f.byPid(1).id != f.byPid(2).id);
        QCOMPARE(f.byPid(2).customName, t("Ay"));
        QCOMPARE(f.manager->savedInstanceData().value(QStringLiteral("/w/a")).id, f.byPid(2).id);
        QVERIFY(f.console.lines().contains(QStringLiteral("🏷️ Using saved custom name 'Ay' for /w/a")));
    }
};

QTEST_GUILESS_MAIN(TestEventHandling)
#include "tst_eventhandling.moc"
