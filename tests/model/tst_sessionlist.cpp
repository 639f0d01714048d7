#include "activitylogmodel.h"
#include "defaultsstore.h"
#include "livenesschecker.h"
#include "sessionlistmodel.h"
#include "sessionstore.h"
#include "testsupport.h"
#include "usage.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;
using TestPaths::writeFile;
using Text = std::optional<QString>;

namespace {

// One role of every row, top to bottom.
QStringList column(const SessionListModel &list, int role)
{
    QStringList texts;
    for (int r = 0; r < list.count(); ++r)
        texts.append(list.data(list.index(r), role).toString());
    return texts;
}

// The session list over a private home, checked by QAbstractItemModelTester
// all along; restart() is Tolvo quitting and starting again.
struct Sessions
{
    TestHome home;
    std::unique_ptr<DefaultsStore> defaults;
    std::unique_ptr<SessionStore> store;
    std::unique_ptr<SessionListModel> list;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QList<SessionListModel::Notification> notices;

    Sessions() { start(); }

    void start()
    {
        defaults = std::make_unique<DefaultsStore>(home.configPath() + u"/tolvo.ini"_s);
        store =
            std::make_unique<SessionStore>(home.configPath() + u"/sessions.json"_s, defaults.get());
        list = std::make_unique<SessionListModel>(*store);
        tester = std::make_unique<QAbstractItemModelTester>(
            list.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QObject::connect(list.get(), &SessionListModel::notificationRequested, list.get(),
                         [this](const auto &n) { notices.append(n); });
    }
    void restart()
    {
        tester.reset();
        list.reset();
        store.reset(); // writes what is left
        defaults.reset();
        start();
    }
    void send(qint64 pid, const QString &event, const Text &cwd = u"/w/app"_s,
              const Text &tool = {}, const Text &details = {})
    {
        list->handle(Records::event(pid, event, cwd, tool, details));
    }
    int row(qint64 pid) const { return list->rowOfPid(pid); }
    const Session &byPid(qint64 pid) const { return list->session(row(pid)); }
    QVariant data(int row, int role) const { return list->data(list->index(row), role); }
    QStringList names() const { return column(*list, SessionListModel::DisplayNameRole); }
    QStringList ids() const { return column(*list, SessionListModel::SessionIdRole); }
    // Sessions x, y, z (pids 1, 2, 3) in /w/x, /w/y, /w/z.
    void three()
    {
        for (int pid = 1; pid <= 3; ++pid)
            send(pid, u"Stop"_s, u"/w/"_s + QChar(u'w' + pid));
    }
};

} // namespace

class TestSessionList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void unknownDirectoryIsFilledInOnce()
    {
        Sessions s;
        s.send(4, u"Elicitation"_s, std::nullopt);
        QCOMPARE(s.byPid(4).projectName, u"Unknown"_s);
        QVERIFY(s.store->customNames().isEmpty() && s.store->savedSessions().isEmpty());
        QVERIFY(s.list->hasReceivedFirstEvent());

        s.list->updateCustomNames({{u"/work/app"_s, u"App"_s}});
        s.send(4, u"Stop"_s, u"/work/app"_s);
        QCOMPARE(s.byPid(4).projectName, u"app"_s);
        QCOMPARE(s.byPid(4).displayName(), u"App"_s);
        QCOMPARE(s.store->savedSessions().value(u"/work/app"_s).id, s.byPid(4).id);
        s.send(4, u"Stop"_s, u"/elsewhere"_s);
        QCOMPARE(s.byPid(4).projectPath, u"/work/app"_s);
    }

    void placeholderRevivesInPlace()
    {
        Sessions s;
        s.three();
        s.list->rename(s.row(2), u"Bee"_s);
        const QStringList ids = s.ids();

        s.restart();
        QCOMPARE(s.ids(), ids);
        QVERIFY(s.list->session(0).isPlaceholder());
        QCOMPARE(s.data(1, SessionListModel::StatusLineRole).toString(), u"Waiting for events"_s);
        s.send(77, u"UserPromptSubmit"_s, u"/w/y"_s, {}, u"go"_s);
        QCOMPARE(s.ids(), ids);
        QCOMPARE(s.row(77), 1);
        QCOMPARE(s.byPid(77).displayName(), u"Bee"_s);
        QCOMPARE(s.byPid(77).status, SessionStatus::working);
        // Only placeholders are revived: a second live process gets its own session.
        s.send(78, u"Stop"_s, u"/w/y"_s);
        QCOMPARE(s.list->count(), 4);
        QCOMPARE(s.byPid(78).customName, Text(u"Bee"_s));
        QCOMPARE(s.store->savedSessions().value(u"/w/y"_s).id, s.byPid(78).id);
    }

    // A record naming another session's waiting request (crafted, or sent again) is shown
    // but takes nothing over: the request stays its session's, with its helper; the row's
    // exit lets every helper of the session go.
    void aRequestStaysItsSessions()
    {
        Sessions s;
        QSignalSpy ended(s.list.get(), &SessionListModel::requestsEnded);
        const QString id(32, u'a');
        for (qint64 pid : {1, 2}) {
            HookEvent event = Records::event(pid, u"PermissionRequest"_s, u"/w/%1"_s.arg(pid),
                                             u"Bash"_s, Records::toolInput({{"command", "rm x"}}));
            event.requestId = id;
            event.helperPid = pid * 10;
            if (pid == 2)
                QTest::ignoreMessage(QtWarningMsg, "Dropped a second record for a waiting request");
            s.list->handle(event);
        }
        int row = -1;
        const WaitingRequest *request = s.list->waitingRequest(id, &row);
        QVERIFY(request && row == s.row(1) && request->helperPid == 10);
        QVERIFY(s.byPid(2).requests.isEmpty());
        QCOMPARE(s.data(s.row(1), SessionListModel::RequestRole).toMap().value(u"text"_s),
                 u"Bash: rm x"_s);
        QCOMPARE(s.notices.size(), 2);
        QCOMPARE(s.notices[0].requestId + u'|' + s.notices[1].requestId, id + u'|');
        s.list->markExited(s.row(1));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.first().at(1).toStringList(), QStringList{id});
    }

    // A remote's rows are its own: same process id and directory as a row of
    // this machine or of another host, yet nothing one host says reaches
    // another's rows, and this machine's liveness check leaves them alone.
    void remoteRowsStayWithTheirHost()
    {
        Sessions s;
        QSignalSpy ended(s.list.get(), &SessionListModel::requestsEnded);
        const qint64 pid = 3999999; // no process here
        s.send(pid, u"Stop"_s, u"/w/shop"_s);
        for (const QString &host : {u"devbox"_s, u"box2"_s}) {
            HookEvent event = Records::event(pid, u"PermissionRequest"_s, u"/w/shop"_s, u"Bash"_s,
                                             Records::toolInput({{"command", "ls"}}));
            event.host = host;
            event.requestId = QString(32, host == u"devbox" ? u'd' : u'b');
            event.helperPid = 5;
            s.list->handle(event);
        }
        QCOMPARE(s.names(), (QStringList{u"shop"_s, u"shop · devbox"_s, u"shop · box2"_s}));
        QCOMPARE(s.notices.last().title, u"Claude Code - shop · box2"_s);
        s.list->rename(1, u"Shop"_s);
        QCOMPARE(s.store->customNames().value(u"devbox:/w/shop"_s), u"Shop"_s);
        QCOMPARE(s.store->savedSessions().keys(), QStringList{u"/w/shop"_s});

        const auto badges = [&] { return column(*s.list, SessionListModel::BadgeRole); };
        LivenessChecker(*s.list).checkNow();
        QCOMPARE(badges(), (QStringList{u"Exited"_s, {}, {}}));
        s.list->hostDisconnected(u"devbox"_s);
        QCOMPARE(badges(), (QStringList{u"Exited"_s, u"Disconnected"_s, {}}));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.first(), (QVariantList{u"devbox"_s, QStringList{QString(32, u'd')}}));
        QVERIFY(!s.data(1, SessionListModel::CanGoToTerminalRole).toBool());
        s.list->markExited(u"devbox"_s, pid + 1);
        s.list->hostReplayed(u"devbox"_s, {pid});
        QCOMPARE(badges(), (QStringList{u"Exited"_s, {}, {}}));
        s.list->markExited(u"box2"_s, pid);
        QCOMPARE(badges(), (QStringList{u"Exited"_s, {}, u"Exited"_s}));
        s.list->hostReplayed(u"devbox"_s, {});
        QCOMPARE(badges(), (QStringList{u"Exited"_s, u"Exited"_s, u"Exited"_s}));

        // The relay's replay brings them back; placeholders are this machine's.
        s.restart();
        QCOMPARE(s.names(), QStringList{u"shop"_s});
    }

    void notificationsNameTheirSession()
    {
        Sessions s;
        s.send(9, u"UserPromptSubmit"_s, u"/w/shop"_s, {}, u"list files"_s);
        s.send(9, u"Stop"_s, u"/w/shop"_s);
        QCOMPARE(s.notices.size(), 1);
        QCOMPARE(s.notices[0].title, u"Claude Code - shop"_s);
        QCOMPARE(s.notices[0].notice.body, u"Completed: list files"_s);
        QCOMPARE(s.notices[0].sessionId + s.notices[0].projectPath, s.byPid(9).id + u"/w/shop"_s);
        // The switches are read for every event.
        s.list->setPreferences([] { return NotificationPolicy::Preferences{true, false, false}; });
        s.send(9, u"Stop"_s, u"/w/shop"_s);
        QCOMPARE(s.notices.size(), 1);
    }

    void move_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QStringList>("result");
        QTest::newRow("first to last") << 0 << 2 << QStringList{u"y"_s, u"z"_s, u"x"_s};
        QTest::newRow("last to first") << 2 << 0 << QStringList{u"z"_s, u"x"_s, u"y"_s};
        QTest::newRow("beyond the end") << 0 << 3 << QStringList{u"x"_s, u"y"_s, u"z"_s};
        QTest::newRow("negative") << -1 << 0 << QStringList{u"x"_s, u"y"_s, u"z"_s};
    }
    void move()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QStringList, result);
        Sessions s;
        s.three();
        s.list->setData(s.list->index(0), true, SessionListModel::ExpandedRole);
        s.list->move(from, to);
        QCOMPARE(s.names(), result);
        // The open row moves with its session; the order survives a restart.
        QCOMPARE(s.data(int(result.indexOf(u"x"_s)), SessionListModel::ExpandedRole), true);
        s.restart();
        QCOMPARE(s.names(), result);
    }

    void rename_data()
    {
        QTest::addColumn<Text>("directory");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stored"); // shown|stored name|record's name, "-" for none
        QTest::newRow("named") << Text(u"/w/api"_s) << u"Backend"_s << u"Backend|Backend|Backend"_s;
        QTest::newRow("not trimmed") << Text(u"/w/api"_s) << u" B "_s << u" B | B | B "_s;
        QTest::newRow("empty clears") << Text(u"/w/api"_s) << QString() << u"api|-|-"_s;
        QTest::newRow("unknown directory") << Text() << u"Solo"_s << u"Solo|-|-"_s;
    }
    void rename()
    {
        QFETCH(Text, directory);
        QFETCH(QString, name);
        Sessions s;
        s.send(5, u"Stop"_s, directory);
        s.list->setData(s.list->index(0), true, SessionListModel::EditingRole);
        QCOMPARE(s.data(0, SessionListModel::EditedNameRole).toString(), s.byPid(5).displayName());
        s.list->rename(0, u"first"_s);
        s.list->rename(0, name);
        QCOMPARE(s.data(0, SessionListModel::EditingRole), false);
        const QString shown = s.data(0, SessionListModel::DisplayNameRole).toString();
        s.restart();
        const QString path = directory.value_or(u"Unknown"_s);
        QTEST(shown + u'|' + s.store->customNames().value(path, u"-"_s) + u'|' +
                  s.store->savedSessions().value(path).customName.value_or(u"-"_s),
              "stored");
    }

    void renameAllLeavesUnknownDirectoriesAlone()
    {
        Sessions s;
        s.three();
        s.send(4, u"Stop"_s, std::nullopt);
        s.list->rename(s.row(4), u"Loose"_s);
        s.list->rename(s.row(1), u"Ex"_s);
        s.list->updateCustomNames(
            {{u"/w/x"_s, u""_s}, {u"/w/y"_s, u"Why"_s}, {u"Unknown"_s, u"U"_s}});
        QCOMPARE(s.store->customNames(),
                 CustomNames({{u"/w/y"_s, u"Why"_s}, {u"Unknown"_s, u"U"_s}}));
        QCOMPARE(s.names(), QStringList({u"x"_s, u"Why"_s, u"z"_s, u"Loose"_s}));
        QCOMPARE(s.store->savedSessions().value(u"/w/x"_s).customName, Text(u"Ex"_s));
    }

    void clearAndRemove()
    {
        Sessions s;
        s.three();
        ActivityLogModel *log = qobject_cast<ActivityLogModel *>(s.list->activityLog(1));
        QAbstractItemModelTester logTester(log,
                                           QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(log->count(), 1);
        s.list->clearLog(1);
        QVERIFY(s.byPid(2).activityLog.isEmpty() && log->count() == 0);
        QCOMPARE(s.byPid(2).unreadEventCount, 1); // clearing is not reading
        s.list->setData(s.list->index(1), true, SessionListModel::ExpandedRole);
        QCOMPARE(s.byPid(2).unreadEventCount, 0); // opening is

        s.list->remove(1);
        QCOMPARE(s.names(), QStringList({u"x"_s, u"z"_s}));
        QVERIFY(!s.store->savedSessions().contains(u"/w/y"_s));
        // The name stays, so the directory's next session gets it back.
        s.send(8, u"Stop"_s, u"/w/y"_s);
        QCOMPARE(s.store->customNames().value(u"/w/y"_s), u"y"_s);
        s.restart();
        QCOMPARE(s.names(), QStringList({u"x"_s, u"z"_s, u"y"_s}));
    }

    // The log section shows the newest 250 entries and keeps which ones show
    // their record while entries come and go.
    void logWindow()
    {
        Sessions s;
        s.send(1, u"UserPromptSubmit"_s, u"/w/a"_s, {}, u"p0"_s);
        ActivityLogModel *log = qobject_cast<ActivityLogModel *>(s.list->activityLog(0));
        QAbstractItemModelTester logTester(log,
                                           QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(log->setData(log->index(0), true, ActivityLogModel::JsonShownRole));
        for (int i = 1; i < 300; ++i)
            s.send(1, u"UserPromptSubmit"_s, u"/w/a"_s, {}, u"p"_s + QString::number(i));
        QCOMPARE(log->count(), ActivityLogModel::shownEntries);
        QCOMPARE(log->data(log->index(0), ActivityLogModel::DetailsTextRole).toString(), u"p50"_s);
        QCOMPARE(log->data(log->index(249), ActivityLogModel::TitleRole).toString(), u"Prompted"_s);
        QVERIFY(log->setData(log->index(249), true, ActivityLogModel::JsonShownRole));
        s.send(1, u"Stop"_s, u"/w/a"_s);
        QCOMPARE(log->data(log->index(248), ActivityLogModel::JsonShownRole), true);
        QCOMPARE(log->data(log->index(249), ActivityLogModel::JsonShownRole), false);
        QVERIFY(log->data(log->index(249), ActivityLogModel::FormattedJSONRole)
                    .toString()
                    .contains(u"\"event\": \"Stop\""_s));
        // A move of the row keeps the same log.
        s.send(2, u"Stop"_s, u"/w/b"_s);
        s.list->move(0, 1);
        QCOMPARE(s.list->activityLog(1), log);
        QCOMPARE(log->count(), ActivityLogModel::shownEntries);
    }

    void exitedSessions()
    {
        Sessions s;
        qint64 pid = 0;
        QVERIFY(QProcess::startDetached(u"/bin/true"_s, {}, {}, &pid));
        QTRY_VERIFY(LivenessChecker::processIsGone(pid));
        s.send(pid, u"Stop"_s, u"/w/gone"_s);
        s.send(QCoreApplication::applicationPid(), u"Stop"_s, u"/w/alive"_s);
        LivenessChecker liveness(*s.list);
        QSignalSpy exited(s.list.get(), &SessionListModel::exitedCountChanged);
        liveness.checkNow();
        QCOMPARE(s.list->exitedCount(), 1);
        QVERIFY(s.byPid(pid).exited && !s.byPid(QCoreApplication::applicationPid()).exited);
        // A new event brings the session back; removing the exited ones drops them.
        s.send(pid, u"Elicitation"_s, u"/w/gone"_s);
        QCOMPARE(s.list->exitedCount(), 0);
        liveness.checkNow();
        s.list->removeExited();
        QCOMPARE(s.names(), QStringList{u"alive"_s});
        QVERIFY(!s.store->savedSessions().contains(u"/w/gone"_s));
        QCOMPARE(exited.size(), 4);
    }

    // Escape or "No" at the permission dialog shows only in the transcript,
    // which is followed from the request on, while the session waits.
    void refusalInTheTranscript_data()
    {
        QTest::addColumn<QByteArray>("before"); // in the transcript before the request
        QTest::addColumn<QByteArray>("after");  // appended while it waits
        QTest::addColumn<bool>("ready");
        const QByteArray interrupted =
            R"({"type":"user","message":{"role":"user","content":[{"type":"text","text":"[Request interrupted by user for tool use]"}]}})";
        const QByteArray rejected =
            R"({"type":"user","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t1","is_error":true,"content":"The user doesn\u0027t want to proceed with this tool use."}]}})";
        const QByteArray failed =
            R"({"type":"user","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t1","is_error":true,"content":"command not found"}]}})";
        QTest::newRow("interrupted") << QByteArray("{}\n") << interrupted + '\n' << true;
        QTest::newRow("tool use rejected") << QByteArray() << rejected + '\n' << true;
        QTest::newRow("a failed command") << QByteArray() << failed + '\n' << false;
        QTest::newRow("half a line") << QByteArray() << interrupted << false;
        QTest::newRow("from before the request") << interrupted + '\n'
                                                 << QByteArray("{}\n") << false;
        QTest::newRow("no transcript") << QByteArray("-") << interrupted + '\n' << false;
        // Gemini CLI's chat file, Escape at its prompt; the same words as the user's text do not count.
        QTest::newRow("gemini: request cancelled")
            << QByteArray()
            << QByteArray("{\"id\":\"8729\",\"type\":\"info\",\"content\":\"Request cancelled.\"}\n")
            << true;
        QTest::newRow("gemini: the words in a prompt")
            << QByteArray()
            << QByteArray("{\"type\":\"user\",\"content\":[{\"text\":\"\\\"type\\\":\\\"info\\\",\\\"content\\\":"
                          "\\\"Request cancelled.\\\"\"}]}\n")
            << false;
    }
    void refusalInTheTranscript()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(bool, ready);
        Sessions s;
        const QString transcript = s.home.path() + u"/session.jsonl"_s;
        if (before != "-")
            QVERIFY(writeFile(transcript, before));
        s.list->handle(Records::event(3, u"PermissionRequest"_s, u"/w/a"_s, u"Bash"_s,
                                      Records::toolInput({{"command", "rm x"}}),
                                      {{"transcript_path", transcript}}));
        QCOMPARE(s.byPid(3).status, SessionStatus::waitingForInput);
        QFile file(transcript);
        QVERIFY(file.open(QIODevice::Append) && file.write(after) == after.size());
        file.close();
        if (ready) {
            QTRY_COMPARE_WITH_TIMEOUT(s.byPid(3).status, SessionStatus::ready, 2000);
            QCOMPARE(s.data(0, SessionListModel::StatusColorRole).toInt(), int(StatusColor::green));
        } else {
            QTest::qWait(3 * TranscriptFollower::pollMs);
            QCOMPARE(s.byPid(3).status, SessionStatus::waitingForInput);
        }
    }

    // What older versions of Tolvo kept in tolvo.ini loads whole, and moves
    // into the sessions file at the first save.
    void olderSettingsLoad()
    {
        TestHome home;
        const QString ini = home.configPath() + u"/tolvo.ini"_s;
        {
            // As they wrote it: JSON in byte-string values.
            DefaultsStore older(ini);
            older.setData(u"com.tolvo.customProjectNames"_s, R"({"/w/a":"Alpha","/w/c":"c"})");
            older.setData(u"com.tolvo.instanceOrder"_s, R"(["B","C","A"])");
            older.setData(
                u"com.tolvo.savedSessions"_s,
                R"({"/w/a":{"customName":"Alpha","id":"A","projectName":"a","projectPath":"/w/a"},)"
                R"("/w/c":{"id":"C","projectName":"c","projectPath":"/w/c"}})");
            older.setBool(u"notifyOnIdle"_s, true);
        }
        DefaultsStore defaults(ini);
        {
            SessionStore store(home.configPath() + u"/sessions.json"_s, &defaults);
            SessionListModel list(store);
            QCOMPARE(list.count(), 2);
            QCOMPARE(list.session(0).id + list.session(1).id, u"CA"_s);
            QCOMPARE(list.session(1).displayName(), u"Alpha"_s);
            QCOMPARE(store.customNames().size(), 2);
            list.move(0, 1);
        }
        QVERIFY(!defaults.contains(u"com.tolvo.instanceOrder"_s));
        QVERIFY(defaults.boolValue(u"notifyOnIdle"_s));
        SessionStore store(home.configPath() + u"/sessions.json"_s, &defaults);
        QCOMPARE(store.order(), QStringList({u"A"_s, u"C"_s}));
        QCOMPARE(store.savedSessions().value(u"/w/a"_s).customName, Text(u"Alpha"_s));
    }

    // Each piece is read whole or not at all.
    void damagedFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("restored"); // names shown after start
        QTest::newRow("not JSON") << QByteArray("{\"sessions\":") << QString();
        QTest::newRow("a record without its name")
            << QByteArray(
                   R"({"sessions":{"/a":{"id":"A","projectPath":"/a"},"/b":{"id":"B","projectPath":"/b","projectName":"b"}}})")
            << QString();
        QTest::newRow("null custom name")
            << QByteArray(
                   R"({"order":["B",1],"sessions":{"/a":{"id":"A","projectPath":"/a","projectName":"a","customName":null},"/b":{"id":"B","projectPath":"/b","projectName":"b"}}})")
            << u"a,b"_s;
        QTest::newRow("order")
            << QByteArray(
                   R"({"order":["B","A"],"sessions":{"/a":{"id":"A","projectPath":"/a","projectName":"a"},"/b":{"id":"B","projectPath":"/b","projectName":"b"}}})")
            << u"b,a"_s;
    }
    void damagedFile()
    {
        QFETCH(QByteArray, file);
        TestHome home;
        QVERIFY(writeFile(home.configPath() + u"/sessions.json"_s, file));
        SessionStore store(home.configPath() + u"/sessions.json"_s);
        QTEST(column(SessionListModel(store), SessionListModel::DisplayNameRole).join(u','),
              "restored");
    }

    // Directories beyond the most recently active ones stay in the file, unshown.
    void manyDirectories()
    {
        Sessions s;
        for (int pid = 1; pid <= SessionListModel::restoredLimit + 20; ++pid)
            s.send(pid, u"Stop"_s, u"/w/"_s + QString::number(pid));
        s.restart();
        QCOMPARE(s.list->count(), SessionListModel::restoredLimit);
        QCOMPARE(s.store->savedSessions().size(), SessionListModel::restoredLimit + 20);
        QCOMPARE(s.list->session(0).projectPath, u"/w/21"_s);
        QVERIFY(QFileInfo(s.store->filePath()).permissions() ==
                (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser));
    }

    // What the day cost: the increases of each session's total seen since local midnight.
    void costOfTheDay_data()
    {
        QTest::addColumn<QStringList>("steps"); // "session total hour", hours from today's midnight
        QTest::addColumn<double>("today");      // at hour 23 of today
        QTest::newRow("a first total counts whole") << QStringList{u"a 1.0 9"_s} << 1.0;
        QTest::newRow("increases add up")
            << QStringList{u"a 1.0 9"_s, u"a 1.5 10"_s, u"b 0.25 11"_s} << 1.75;
        QTest::newRow("a total that went down started afresh")
            << QStringList{u"a 2.0 9"_s, u"a 0.5 10"_s} << 2.5;
        QTest::newRow("before midnight is yesterday's")
            << QStringList{u"a 1.0 -1"_s, u"a 1.4 1"_s} << 0.4;
        QTest::newRow("across a restart") << QStringList{u"a 1.0 9"_s, u"restart"_s, u"a 1.2 10"_s}
                                          << 1.2;
    }
    void costOfTheDay()
    {
        QFETCH(QStringList, steps);
        QFETCH(double, today);
        const WallClockTime midnight =
            QDateTime(QDate::currentDate(), QTime(0, 0)).toMSecsSinceEpoch() / 1000.0;
        Usage::CostLedger ledger;
        for (const QString &step : steps) {
            const QStringList parts = step.split(u' ');
            if (parts[0] == u"restart")
                ledger = Usage::CostLedger::fromJson(
                    QJsonDocument::fromJson(QJsonDocument(ledger.toJson()).toJson()).object());
            else
                ledger.record(parts[0], parts[1].toDouble(), midnight + parts[2].toDouble() * 3600);
        }
        QCOMPARE(ledger.today(midnight + 23 * 3600), today);
        QCOMPARE(ledger.today(midnight + 25 * 3600), 0.0); // tomorrow
    }

};

QTEST_GUILESS_MAIN(TestSessionList)
#include "tst_sessionlist.moc"
