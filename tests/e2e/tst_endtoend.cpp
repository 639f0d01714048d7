// A Claude Code session's life through the real hook command into the running
// application, read back from its row, from what scripts read and from dunst.

#include "appharness.h"
#include "busservice.h"
#include "defaultsstore.h"
#include "hooksession.h"
#include "namedpipelistener.h"
#include "noticegate.h"
#include "quietstate.h"
#include "settingstable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <csignal>

using namespace Qt::StringLiterals;

// The record the older hook command's jq filter made of a hook input.
static const QString jqFilter =
    u"{instance: $pid, event: .hook_event_name, tool: (.tool_name // null), details: (.prompt "
    u"// .compact_trigger // (.tool_input | tojson) // null), working_directory: .cwd}"_s;

// Whether a hook process still runs (a zombie waits only for its shell to reap it).
static bool running(qint64 pid)
{
    const QByteArray stat = TestPaths::readFile(u"/proc/%1/stat"_s.arg(pid));
    return !stat.isEmpty() && !stat.contains(") Z ");
}

class TestEndToEnd : public QObject
{
    Q_OBJECT
    AppHarness h;
    HookSession claude{TestPaths::buildPrefix()}; // in the harness's home
    std::unique_ptr<BusService> bus;              // tolvoctl's way in
    int arrived = 0;
    qsizetype lastShown = 0;
    HookSession::Started held;

    QJsonArray requests()
    {
        return QJsonDocument::fromJson(sessionsJson(h.sessions()).toUtf8())
            .array()[0][u"requests"]
            .toArray();
    }
    // tolvoctl as a script runs it, while this process serves its calls.
    std::pair<int, QString> tolvoctl(const QStringList &arguments)
    {
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(Desktop::binary("tolvoctl"), arguments);
        if (!finished.wait(10000))
            return {-1, {}};
        return {process.exitCode(),
                QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
                    .trimmed()};
    }
    // A new permission request of the session, held by its helper for an answer.
    bool ask()
    {
        const Session &session = h.sessions().session(0);
        const qint64 before = held.pid;
        held = claude.start(HookSession::fixture(u"PermissionRequest-Bash.json"_s));
        if (held.pid <= 0 || !QTest::qWaitFor([&] {
                return session.requests.size() == 1 &&
                       session.requests.constFirst().helperPid != before;
            }))
            return false;
        held.pid = session.requests.constFirst().helperPid; // sh's child
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(h.start());
        h.app->defaults().setBool(Settings::notifyOnIdle, true); // off by default
        bus = std::make_unique<BusService>(h.sessions(), [](const QVariantMap &) {});
        bus->setFocus([this](const QString &id, QString *problem) {
            return h.app->goToTerminal(id, {}, problem);
        });
        bus->setQuiet(&h.app->quiet());
        bus->setAnswer([this](const QString &id, const QString &answer, const QString &reason) {
            BusService::Answered answered;
            answered.ok = h.app->answerRequest(id, answer, reason, &answered.message);
            return answered;
        });
        QVERIFY(QDBusConnection::sessionBus().registerService(u"com.tolvo.Tolvo"_s) &&
                bus->registerOn(QDBusConnection::sessionBus()));
        QTRY_VERIFY(QFile::exists(h.home.tolvoPath() + u"/tolvo.pid"_s));
        connect(&h.app->listener(), &NamedPipeListener::eventReceived, this, [this] { ++arrived; });
        Desktop::notificationsSince(lastShown);
    }

    void aSessionsLife_data()
    {
        QTest::addColumn<QString>("input"); // the next one; "jq:": as the older jq filter's record
        QTest::addColumn<QString>("statusLine");
        QTest::addColumn<QString>("status");   // the token scripts read
        QTest::addColumn<QString>("notified"); // the body on screen; empty: none
        const auto row = [](const char *input, const char *line, const char *status,
                            const char *notified = "") {
            QTest::newRow(input) << QString::fromUtf8(input) << QString::fromUtf8(line)
                                 << QString::fromUtf8(status) << QString::fromUtf8(notified);
        };
        row("SessionStart-startup", "Ready", "ready");
        row("UserPromptSubmit", "Prompted: list the files", "working");
        row("PreToolUse-Bash", "Working: Bash → ls -la", "working");
        row("PermissionRequest-Bash", "Waiting for Input: Bash → rm -f notes.txt", "waiting",
            "Permission required for: Bash → rm -f notes.txt");
        row("Notification-permission_prompt", "Waiting for Input: Bash → rm -f notes.txt",
            "waiting");
        row("PostToolUse-Bash", "Working: Bash → ls -la", "working");
        row("Stop", "Ready", "ready", "Completed: ls -la\nAll done.");
        row("Notification-idle_prompt", "Ready", "ready", "Claude Code is now idle");
        row("jq:PreToolUse-Bash", "Working: Bash → ls -la", "working");
        row("jq:Notification-permission_prompt", "Waiting for Input: Bash", "waiting",
            "Permission required for: Bash");
        row("jq:Stop", "Ready", "ready", "Completed: ls -la");
        row("jq:Notification-idle_prompt", "Ready", "ready"); // no type: never "Notification"
        row("StopFailure", "Failed: Rate limit reached", "failed", "Failed: Rate limit reached");
        row("SessionEnd-prompt_input_exit", "Ready", "ready");
    }

    void aSessionsLife()
    {
        QFETCH(QString, input);
        QFETCH(QString, statusLine);
        QFETCH(QString, status);
        QFETCH(QString, notified);
        QSignalSpy notices(&h.sessions(), &SessionListModel::notificationRequested);
        const int before = arrived;
        if (input.startsWith(u"jq:")) { // a record line written straight into the pipe
            QProcess jq;
            jq.setStandardOutputFile(h.home.pipePath(), QIODevice::Append);
            jq.start(u"jq"_s, {u"-c"_s, u"--arg"_s, u"pid"_s, QString::number(claude.pid()),
                               jqFilter, TestPaths::fixture(input.mid(3) + u".json"_s)});
            QVERIFY(jq.waitForFinished() && jq.exitCode() == 0);
        } else if (input.startsWith(u"PermissionRequest")) {
            QVERIFY(ask());
        } else {
            QVERIFY(claude.send(HookSession::fixture(input + u".json"_s)));
        }
        QTRY_COMPARE(arrived, before + 1);
        // The request waits until the tool has run, approved in the terminal; then its
        // helper is let go without a decision.
        const bool waiting =
            input.endsWith(u"permission_prompt") || input.startsWith(u"Permission");
        QCOMPARE(requests().size(), waiting && !input.startsWith(u"jq") ? 1 : 0);
        if (input == u"PostToolUse-Bash") {
            QTRY_VERIFY_WITH_TIMEOUT(!running(held.pid), 1000);
            QCOMPARE(TestPaths::readFile(held.output), QByteArray());
        }
        QCOMPARE(h.sessions().count(), 1);
        QCOMPARE(h.sessions().data(h.sessions().index(0), SessionListModel::StatusLineRole),
                 statusLine);
        const QJsonArray script =
            QJsonDocument::fromJson(sessionsJson(h.sessions()).toUtf8()).array();
        QCOMPARE(script[0][u"status"].toString(), status);
        QCOMPARE(script[0][u"exited"].toBool(), input.startsWith(u"SessionEnd"));

        QCOMPARE(notices.size(), notified.isEmpty() ? 0 : 1); // any more would show up next

        if (notified.isEmpty())
            return;
        QCOMPARE(Desktop::nextNotifications(lastShown),
                 QStringList(u"Claude Code - webshop: "_s + notified));
    }

    // Each way of answering a held request: what the helper prints (compared as JSON; empty:
    // nothing), and what a second answer afterwards is told.
    void answers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("decision");
        const QByteArray suggestions =
            QJsonDocument(HookSession::fixture(u"PermissionRequest-Bash.json"_s)
                              .value(u"permission_suggestions")
                              .toArray())
                .toJson(QJsonDocument::Compact);
        const auto decision = [](const QByteArray &inner) {
            return R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":)" +
                   inner + "}}";
        };
        QTest::newRow("Allow on the row")
            << u"click allowButton"_s << decision(R"({"behavior":"allow"})");
        QTest::newRow("Deny on the row, no reason typed")
            << u"click denyButton"_s
            << decision(R"({"behavior":"deny","message":"Denied from Tolvo"})");
        QTest::newRow("tolvoctl allow --always by session name")
            << u"tolvoctl allow --always webshop"_s
            << decision(R"({"behavior":"allow","updatedPermissions":)" + suggestions + '}');
        QTest::newRow("tolvoctl deny --reason by request id")
            << u"tolvoctl deny --reason ID"_s
            << decision(R"({"behavior":"deny","message":"not now"})");
        QTest::newRow("approved in the terminal") << u"PostToolUse-Bash"_s << QByteArray();
        QTest::newRow("Escape at the dialog ends the helper") << u"kill"_s << QByteArray();
    }
    void answers()
    {
        QFETCH(QString, how);
        QFETCH(QByteArray, decision);
        QVERIFY(claude.send(HookSession::fixture(u"UserPromptSubmit.json"_s)));
        QVERIFY(ask());
        const QString id = requests()[0][u"id"].toString();
        QElapsedTimer answered;
        answered.start();
        if (how.startsWith(u"click ")) {
            QQuickItem *button = h.find(how.mid(6));
            QTRY_VERIFY(button && button->isVisible());
            AppHarness::click(button);
        } else if (how.startsWith(u"tolvoctl ")) {
            QStringList arguments = how.mid(9).split(u' ');
            arguments.replaceInStrings(u"ID"_s, id);
            if (arguments.contains(u"--reason"_s))
                arguments.insert(arguments.indexOf(u"--reason"_s) + 1, u"not now"_s);
            const auto [code, said] = tolvoctl(arguments);
            QCOMPARE(code, 0);
            QVERIFY2(said.startsWith(u"Allowed: Bash") || said == u"Denied: Bash",
                     qPrintable(said));
        } else if (how == u"kill") {
            ::kill(pid_t(held.pid), SIGTERM);
        } else {
            QVERIFY(claude.send(HookSession::fixture(how + u".json"_s)));
        }
        // Within a second the helper is gone, and so are the row's buttons.
        QTRY_VERIFY_WITH_TIMEOUT(!running(held.pid), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(requests().isEmpty(), 1000);
        qInfo("answered and released in %lld ms", answered.elapsed());
        const QByteArray printed = TestPaths::readFile(held.output);
        QCOMPARE(QJsonDocument::fromJson(printed).object(),
                 QJsonDocument::fromJson(decision).object());
        QCOMPARE(printed.isEmpty(), decision.isEmpty());
        // Too late: harmless, and said so.
        const auto [code, said] = tolvoctl({u"allow"_s, id});
        QCOMPARE(code, 1);
        QVERIFY2(said.contains(u"no longer waits"_s), qPrintable(said));
    }

    // Requests approved in the terminal leave no hook process behind.
    void noHelperLeftBehind()
    {
        QList<qint64> helpers;
        for (int i = 0; i < 20; ++i) {
            QVERIFY(ask());
            helpers.append(held.pid);
            QVERIFY(claude.send(HookSession::fixture(u"PostToolUse-Bash.json"_s)));
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(helpers.cbegin(), helpers.cend(), running), 3000);
        QCOMPARE(h.app->sessions().session(0).requests.size(), 0);
    }

    // Other agents' sessions through their own hook commands, from inputs the
    // real CLIs wrote: the state after each event, one row per session.
    void otherAgents_data()
    {
        QTest::addColumn<QString>("agent");
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QStringList>("states");  // after each input
        QTest::addColumn<QStringList>("notices"); // "title: body", in order
        const QString codex = u"Codex — codex: "_s, gemini = u"Gemini CLI — gemini: "_s;
        QTest::newRow("codex") << u"codex"_s
                               << QStringList{u"SessionStart-startup"_s,
                                              u"UserPromptSubmit"_s,
                                              u"PreModelRequest"_s,
                                              u"PreToolUse-Bash"_s,
                                              u"PermissionRequest-Bash"_s,
                                              u"PostToolUse-Bash"_s,
                                              u"Stop"_s,
                                              u"SessionEnd-other"_s}
                               << QStringList{u"ready"_s,   u"working"_s, u"working"_s,
                                              u"working"_s, u"waiting"_s, u"working"_s,
                                              u"ready"_s,   u"exited"_s}
                               << QStringList{
                                      codex + u"Permission required for: Bash → rm -f notes.txt"_s,
                                      codex + u"Completed: rm -f notes.txt\nRemoved."_s};
        // Escape at Codex's approval prompt: Interrupt, and no Stop.
        QTest::newRow("codex interrupted")
            << u"codex"_s
            << QStringList{u"UserPromptSubmit"_s, u"PermissionRequest-Bash"_s, u"Interrupt"_s}
            << QStringList{u"working"_s, u"waiting"_s, u"ready"_s}
            << QStringList{codex + u"Permission required for: Bash → rm -f notes.txt"_s};
        QTest::newRow("gemini") << u"gemini"_s
                                << QStringList{u"SessionStart-startup"_s,
                                               u"BeforeAgent"_s,
                                               u"PreCompress-auto"_s,
                                               u"BeforeTool-run_shell_command"_s,
                                               u"Notification-ToolPermission"_s,
                                               u"AfterTool-run_shell_command"_s,
                                               u"AfterAgent"_s,
                                               u"SessionEnd-exit"_s,
                                               u"SessionEnd-exit"_s}
                                << QStringList{u"ready"_s,   u"working"_s, u"working"_s,
                                               u"working"_s, u"waiting"_s, u"working"_s,
                                               u"ready"_s,   u"exited"_s,  u"exited"_s}
                                << QStringList{gemini + u"Permission required for: Shell"_s,
                                               gemini + u"Completed: rm -f notes.txt\nRemoved."_s};
        // Escape at Gemini's prompt fires nothing: the next prompt tells.
        QTest::newRow("gemini: escape, then a prompt")
            << u"gemini"_s
            << QStringList{u"BeforeAgent"_s, u"BeforeTool-run_shell_command"_s,
                           u"Notification-ToolPermission"_s, u"BeforeAgent"_s}
            << QStringList{u"working"_s, u"working"_s, u"waiting"_s, u"working"_s}
            << QStringList{gemini + u"Permission required for: Shell"_s};
        QTest::newRow("gemini's /clear keeps the row")
            << u"gemini"_s
            << QStringList{u"SessionStart-startup"_s, u"BeforeAgent"_s, u"SessionEnd-clear"_s,
                           u"SessionStart-clear"_s}
            << QStringList{u"ready"_s, u"working"_s, u"exited"_s, u"ready"_s} << QStringList{};
    }

    void otherAgents()
    {
        QFETCH(QString, agent);
        QFETCH(QStringList, inputs);
        QFETCH(QStringList, states);
        QFETCH(QStringList, notices);
        QSignalSpy notified(&h.sessions(), &SessionListModel::notificationRequested);
        HookSession session(TestPaths::buildPrefix(), agent);
        const auto rows = [&] {
            QList<int> found;
            for (int row = 0; row < h.sessions().count(); ++row) {
                const Session &s = h.sessions().session(row);
                if (s.pid == session.pid() && agentToken(s.agent) == agent)
                    found.append(row);
            }
            return found;
        };
        const auto state = [&] {
            const QList<int> found = rows();
            if (found.size() != 1)
                return u"%1 rows"_s.arg(found.size());
            const Session &s = h.sessions().session(found.first());
            return s.exited ? u"exited"_s : statusToken(s.status);
        };
        for (qsizetype i = 0; i < inputs.size(); ++i) {
            QJsonObject input =
                HookSession::fixture(agent + u'/' + inputs[i] + u".json"_s, u"/w/"_s + agent);
            // The captures come from several runs: one id per session of this row,
            // a new one from /clear on.
            input[u"session_id"] = QString::fromLatin1(QTest::currentDataTag()) +
                                   (inputs[i] == u"SessionStart-clear" ? u"-2"_s : u"-1"_s);
            QVERIFY(session.send(input));
            QTRY_COMPARE(state(), states[i]);
        }
        QCOMPARE(h.sessions().session(rows().first()).shownName(), agent);
        QVERIFY(h.sessions().session(rows().first()).requests.isEmpty()); // reported, not held
        QTest::qWait(150); // the notices' delivery delay
        QStringList shown;
        for (const QList<QVariant> &signal : std::as_const(notified)) {
            const auto n = signal.first().value<SessionListModel::Notification>();
            shown.append(n.title + u": "_s + n.notice.body);
        }
        QCOMPARE(shown, notices);
    }

    // Claude Code's status line through the helper Tolvo installs: what the row, the header and
    // tolvoctl show. `changes`: members of the input replaced ("a.b": value; null removes it);
    // "+N" as a reset time is N seconds from now.
    void statusLines_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<QString>("printed");     // the helper's own line
        QTest::addColumn<QString>("row");         // model | context | cost, as the row shows them
        QTest::addColumn<QString>("limits");      // the header's and tolvoctl's plan windows
        QTest::addColumn<QStringList>("notices"); // warnings, "*" for a time
        const QString captured = u"status-line-2.1.328.json"_s;
        const QString limited = u"status-line-with-rate-limits.json"_s;
        const QJsonObject soon{{u"rate_limits.five_hour.resets_at"_s, u"+7200"_s},
                               {u"rate_limits.seven_day.resets_at"_s, u"+259200"_s}};
        QTest::newRow("captured") << captured << QJsonObject() << u"Opus 5.5 · 0% · $0.00"_s
                                  << u"Opus 5.5|0%|<$0.01"_s << QString() << QStringList();
        QTest::newRow("rate limits")
            << limited << soon << u"Opus 5.5 · 91% · $0.00"_s << u"Opus 5.5|91% red|<$0.01"_s
            << u"5h 42% · resets * · 7d 19%"_s
            << QStringList{u"Context 91% full: compaction soon"_s};
        QJsonObject fiveHourGone = soon;
        fiveHourGone.insert(u"rate_limits.five_hour"_s, QJsonValue::Null);
        QTest::newRow("one window missing")
            << limited << fiveHourGone << u"Opus 5.5 · 91% · $0.00"_s
            << u"Opus 5.5|91% red|<$0.01"_s << u"7d 19%"_s << QStringList(); // once per session
        QTest::newRow("a reset that has passed")
            << limited
            << QJsonObject{{u"rate_limits.five_hour.resets_at"_s, u"+-60"_s},
                           {u"rate_limits.seven_day"_s, QJsonValue::Null}}
            << u"Opus 5.5 · 91% · $0.00"_s << u"Opus 5.5|91% red|<$0.01"_s << QString()
            << QStringList();
        QTest::newRow("fields missing")
            << captured
            << QJsonObject{{u"model"_s, QJsonValue::Null}, {u"cost"_s, QJsonValue::Null}} << u"0%"_s
            << u"|0%|"_s << QString() << QStringList();
        QTest::newRow("absurd numbers")
            << limited
            << QJsonObject{{u"context_window.used_percentage"_s, 250},
                           {u"cost.total_cost_usd"_s, -5},
                           {u"rate_limits.five_hour.used_percentage"_s, 1e300},
                           {u"rate_limits.seven_day.resets_at"_s, u"+259200"_s}}
            << u"Opus 5.5"_s << u"Opus 5.5||"_s << u"7d 19%"_s << QStringList();
        QTest::newRow("text where numbers belong")
            << captured
            << QJsonObject{{u"context_window.used_percentage"_s, u"91"_s},
                           {u"cost.total_cost_usd"_s, u"0.5"_s},
                           {u"model.display_name"_s, 5}}
            << QString() << u"||"_s << QString() << QStringList();
        // The 5-hour window passing 80% and 95% (the defaults): once each per window.
        const auto used = [](double percent) {
            return QJsonObject{{u"rate_limits.five_hour.used_percentage"_s, percent},
                               {u"rate_limits.five_hour.resets_at"_s, qint64(4102444800)},
                               {u"rate_limits.seven_day"_s, QJsonValue::Null}};
        };
        QTest::newRow("plan at 85%")
            << limited << used(85) << u"Opus 5.5 · 91% · $0.00"_s << u"Opus 5.5|91% red|<$0.01"_s
            << u"5h 85% · resets *"_s << QStringList{u"5-hour limit at 85% · resets *"_s};
        QTest::newRow("plan at 96%")
            << limited << used(96) << u"Opus 5.5 · 91% · $0.00"_s << u"Opus 5.5|91% red|<$0.01"_s
            << u"5h 96% · resets *"_s << QStringList{u"5-hour limit at 96% · resets *"_s};
        QTest::newRow("plan at 97%, the same window")
            << limited << used(97) << u"Opus 5.5 · 91% · $0.00"_s << u"Opus 5.5|91% red|<$0.01"_s
            << u"5h 97% · resets *"_s << QStringList();
    }
    void statusLines()
    {
        QFETCH(QString, input);
        QFETCH(QJsonObject, changes);
        QFETCH(QString, printed);
        QFETCH(QString, row);
        QFETCH(QString, limits);
        QFETCH(QStringList, notices);
        QSignalSpy notified(&h.sessions(), &SessionListModel::notificationRequested);
        QFile file(QStringLiteral(TOLVO_FIXTURES_DIR "/status-line/") + input);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
        object[u"session_id"] = QString::fromLatin1(QTest::currentDataTag());
        for (auto change = changes.begin(); change != changes.end(); ++change) {
            const QStringList path = change.key().split(u'.');
            QJsonValue value = change.value();
            if (value.toString().startsWith(u'+'))
                value = QDateTime::currentSecsSinceEpoch() + value.toString().mid(1).toLongLong();
            // Set from the innermost object outwards.
            QList<QJsonObject> objects{object};
            for (qsizetype i = 0; i + 1 < path.size(); ++i)
                objects.append(objects.last().value(path[i]).toObject());
            for (qsizetype i = path.size() - 1; i >= 0; --i) {
                QJsonObject &inner = objects[i];
                if (i == path.size() - 1 && value.isNull())
                    inner.remove(path[i]);
                else
                    inner.insert(path[i],
                                 i == path.size() - 1 ? value : QJsonValue(objects[i + 1]));
            }
            object = objects.first();
        }
        QProcess helper;
        helper.start(u"/bin/sh"_s,
                     {u"-c"_s, u"'"_s + TestPaths::buildPrefix() +
                                   u"/libexec/tolvo/tolvo-hook' --status-line \"$PPID\""_s});
        helper.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
        helper.closeWriteChannel();
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(helper.readAllStandardOutput()).trimmed(), printed);

        const auto shown = [&] {
            const int at = h.sessions().rowOfPid(QCoreApplication::applicationPid());
            if (at < 0 || h.sessions().session(at).agentSessionId !=
                              QString::fromLatin1(QTest::currentDataTag()))
                return u"no row"_s;
            const QVariantMap usage =
                h.sessions().index(at).data(SessionListModel::UsageRole).toMap();
            QString context = usage.value(u"contextText"_s).toString();
            if (usage.value(u"contextRed"_s).toBool())
                context += u" red"_s;
            return usage.value(u"model"_s).toString() + u'|' + context + u'|' +
                   usage.value(u"costText"_s).toString();
        };
        QTRY_COMPARE(shown(), row);
        const auto matches = [](const QString &text, const QString &expected) {
            return QRegularExpression(
                       u'^' + QRegularExpression::escape(expected).replace(u"\\*"_s, u".+"_s) +
                       u'$')
                .match(text)
                .hasMatch();
        };
        const QString header = h.sessions().usageJson().value(u"limits").toString();
        QVERIFY2(matches(header, limits), qPrintable(header));
        QCOMPARE(notified.size(), notices.size());
        for (qsizetype i = 0; i < notices.size(); ++i) {
            const QString body =
                notified.at(i).first().value<SessionListModel::Notification>().notice.body;
            QVERIFY2(matches(body, notices[i]), qPrintable(body));
        }
        QVERIFY2(h.sessions().usageSummary().startsWith(header),
                 qPrintable(h.sessions().usageSummary()));
        const auto [code, said] = tolvoctl({u"status"_s});
        QCOMPARE(code, 0);
        QVERIFY2(said.contains(header), qPrintable(said));
    }

    // Codex's shared server runs every session's hooks with the environment of whichever
    // session started it: no terminal is taken from there, and Go to Terminal says so.
    // What reaches the notification server when the user asked for quiet. `setUp`: "after=S"
    // (tell turns of at least S seconds), "front"/"behind"/"unsure" (whether the session's
    // terminal is in front), "frontOff" (the switch off), "mute" (its project), "quiet" (tolvoctl
    // quiet 1h), "paused" (dunst paused). Each event raises a notice of its first word.
    void quiet_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("shown"); // the first word of each notice on screen
        const QString all = u"Permission Completed Failed"_s;
        QTest::newRow("nothing asked") << QString() << all;
        QTest::newRow("a short turn") << u"after=60"_s << u"Permission Failed"_s;
        QTest::newRow("a long enough turn") << u"after=0"_s << all;
        QTest::newRow("in front") << u"front"_s << QString();
        QTest::newRow("behind") << u"behind"_s << all;
        QTest::newRow("in front, cannot tell") << u"unsure"_s << all;
        QTest::newRow("in front, switch off") << u"front frontOff"_s << all;
        QTest::newRow("muted") << u"mute"_s << QString();
        QTest::newRow("do not disturb") << u"quiet"_s << QString();
        QTest::newRow("server paused") << u"paused"_s << QString();
    }
    void quiet()
    {
        QFETCH(QString, setUp);
        QFETCH(QString, shown);
        const QStringList steps = setUp.split(u' ', Qt::SkipEmptyParts);
        const QString cwd = u"/w/quiet"_s;
        HookSession session(TestPaths::buildPrefix());
        QVERIFY(session.send(HookSession::fixture(u"SessionStart-startup.json"_s, cwd)));
        QTRY_VERIFY(h.sessions().rowOfPid(session.pid()) >= 0);
        const int row = h.sessions().rowOfPid(session.pid());
        std::optional<bool> front;
        h.app->noticeGate().setPresence([&](const QString &, NoticeGate::Answer answer) {
            QTimer::singleShot(20, this, [answer, front] { answer(front); });
        });
        DefaultsStore &settings = h.app->defaults();
        const auto undo = qScopeGuard([&] {
            h.app->noticeGate().setPresence({});
            settings.setText(Settings::completedAfterSeconds, u"0"_s);
            settings.setBool(Settings::quietInFront, true);
            h.sessions().setData(h.sessions().index(row), false, SessionListModel::MutedRole);
            h.app->quiet().setUntil(0);
            Desktop::run(u"dunstctl"_s, {u"set-paused"_s, u"false"_s});
        });
        for (const QString &step : steps) {
            if (step.startsWith(u"after="))
                settings.setText(Settings::completedAfterSeconds, step.mid(6));
            else if (step == u"front" || step == u"behind")
                front = step == u"front";
            else if (step == u"frontOff")
                settings.setBool(Settings::quietInFront, false);
            else if (step == u"mute")
                QVERIFY(h.sessions().setData(h.sessions().index(row), true,
                                             SessionListModel::MutedRole));
            else if (step == u"quiet") {
                QCOMPARE(tolvoctl({u"quiet"_s, u"soon"_s}).first, 2);
                QCOMPARE(tolvoctl({u"quiet"_s, u"1h"_s}).first, 0);
                QVERIFY(tolvoctl({u"quiet"_s}).second.startsWith(u"Do not disturb until "_s));
            }
            else if (step == u"paused")
                Desktop::run(u"dunstctl"_s, {u"set-paused"_s, u"true"_s});
        }
        // What scripts read while quiet, and why.
        const QString why = steps.contains(u"quiet")    ? u"Do not disturb until "_s
                            : steps.contains(u"paused") ? u"Notifications paused by the desktop"_s
                            : steps.contains(u"mute")   ? u"Muted"_s
                                                        : QString();
        QTRY_VERIFY(why.isEmpty() || h.app->quiet().text().startsWith(why) || why == u"Muted");
        const QJsonArray sessions =
            QJsonDocument::fromJson(tolvoctl({u"status"_s, u"--json"_s}).second.toUtf8()).array();
        const auto mine = std::find_if(sessions.begin(), sessions.end(), [&](const QJsonValue &s) {
            return s[u"pid"].toInteger() == session.pid();
        });
        QVERIFY(mine != sessions.end());
        QVERIFY2((*mine)[u"quiet"].toString().startsWith(why),
                 qPrintable((*mine)[u"quiet"].toString()));
        if (why.startsWith(u"Do not"))
            QVERIFY(tolvoctl({u"status"_s, u"--waybar"_s}).second.contains(why));

        QSignalSpy passed(&h.app->noticeGate(), &NoticeGate::shown);
        for (const char *input : {"PreToolUse-Bash", "Notification-permission_prompt",
                                  "UserPromptSubmit", "Stop", "UserPromptSubmit", "StopFailure"})
            QVERIFY(
                session.send(HookSession::fixture(QString::fromLatin1(input) + u".json"_s, cwd)));
        QTRY_COMPARE(h.sessions().session(row).status, SessionStatus::failed);
        QTest::qWait(300); // the presence answer and the notices' delivery delay
        QStringList words;
        for (const QList<QVariant> &signal : std::as_const(passed))
            words.append(signal.first().value<SessionListModel::Notification>().notice.body.section(
                u' ', 0, 0));
        QCOMPARE(words.join(u' ').remove(u':'), shown);
        // The server shows the last of them (each replaces the one before).
        const QStringList onScreen = Desktop::notificationsSince(lastShown);
        QCOMPARE(onScreen.isEmpty() ? QString() : onScreen.last().section(u": "_s, 1, 1),
                 shown.section(u' ', -1));
        // The light goes on as ever.
        QCOMPARE(h.sessions().session(row).statusColor(), StatusColor::purple);
    }

    void codexTerminal_data()
    {
        QTest::addColumn<QStringList>("arguments"); // of the hooks' parent
        QTest::addColumn<bool>("known");
        QTest::newRow("--no-daemon: the TUI runs the hooks") << QStringList() << true;
        QTest::newRow("the shared server")
            << QStringList{u"app-server"_s, u"--listen"_s, u"unix://"_s} << false;
    }
    void codexTerminal()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, known);
        qputenv("TERM_PROGRAM", "tolvo-test"); // a terminal to tell, for the hooks to report
        HookSession codex(TestPaths::buildPrefix(), u"codex"_s, arguments);
        qunsetenv("TERM_PROGRAM");
        QJsonObject input = HookSession::fixture(u"codex/UserPromptSubmit.json"_s, u"/w/tui"_s);
        input[u"session_id"] = QString::fromLatin1(QTest::currentDataTag());
        QVERIFY(codex.send(input));
        int row = -1;
        QTRY_VERIFY((row = h.sessions().rowOfPid(codex.pid())) >= 0);
        QCOMPARE(h.sessions().index(row).data(SessionListModel::CanGoToTerminalRole).toBool(),
                 known);
        QCOMPARE(h.sessions().session(row).terminal.isEmpty(), !known);
        if (!known) {
            const auto [code, said] = tolvoctl({u"focus"_s, QString::number(codex.pid())});
            QCOMPARE(code, 1);
            QVERIFY2(said.contains(u"cannot tell which terminal runs this Codex session"_s),
                     qPrintable(said));
        }
        h.sessions().remove(row);
    }

    // Codex's prompt waits for its hook: held only when the user chose so, and then
    // answered from Tolvo without Always allow (Codex makes no suggestions).
    void codexHeldWhenChosen()
    {
        h.app->defaults().setBool(Settings::holdCodexRequests, true);
        const auto off =
            qScopeGuard([this] { h.app->defaults().setBool(Settings::holdCodexRequests, false); });
        QTRY_VERIFY(TestPaths::readFile(h.home.tolvoPath() + u"/hold"_s).contains("codex"));
        HookSession codex(TestPaths::buildPrefix(), u"codex"_s);
        QJsonObject input =
            HookSession::fixture(u"codex/PermissionRequest-Bash.json"_s, u"/w/held"_s);
        const HookSession::Started helper = codex.start(input);
        const auto waiting = [&] {
            for (int row = 0; row < h.sessions().count(); ++row) {
                if (h.sessions().session(row).projectPath == u"/w/held" &&
                    h.sessions().session(row).requests.size() == 1)
                    return row;
            }
            return -1;
        };
        QTRY_VERIFY(waiting() >= 0);
        const int row = waiting();
        const QVariantMap request =
            h.sessions().index(row).data(SessionListModel::RequestRole).toMap();
        QCOMPARE(request.value(u"alwaysText"_s).toString(), QString());
        const auto [code, said] = tolvoctl({u"allow"_s, request.value(u"id"_s).toString()});
        QCOMPARE(code, 0);
        QCOMPARE(said, u"Allowed: Bash"_s);
        QTRY_COMPARE(
            QJsonDocument::fromJson(TestPaths::readFile(helper.output)).object(),
            QJsonDocument::fromJson(R"({"hookSpecificOutput":{"hookEventName":)"
                                    R"("PermissionRequest","decision":{"behavior":"allow"}}})")
                .object());
        h.sessions().remove(row);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
