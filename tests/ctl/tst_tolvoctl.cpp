#include "codextrust.h"
#include "defaultsstore.h"
#include "hookinstaller.h"
#include "remotehost.h"
#include "sessiontarget.h"
#include "statustext.h"
#include "testsupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using TestPaths::readFile;

// Stands in for the running Tolvo on a private bus; a reply "!why" is an error.
class FakeTolvo : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tolvo.Tolvo")

public:
    QString sessions;
    QString hosts;
    QStringList calls; // what was asked of the remote hosts

public Q_SLOTS:
    QString Sessions()
    {
        if (sessions.startsWith(u'!'))
            sendErrorReply(QDBusError::Failed, sessions.mid(1));
        return sessions;
    }
    QString RemoteHosts() { return hosts; }
    void AddRemoteHost(const QString &name, const QString &transport)
    {
        calls.append(u"add "_s + name + u' ' + transport);
    }
    void RemoveRemoteHost(const QString &name) { calls.append(u"remove "_s + name); }
};

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

class TestTolvoctl : public QObject
{
    Q_OBJECT

    TestHome m_home;
    QProcess m_bus;
    QString m_address;

    // Runs tolvoctl without blocking the event loop, so that FakeTolvo can answer.
    Run tolvoctl(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
        process.setProcessEnvironment(environment);
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(TestPaths::buildPrefix() + u"/bin/tolvoctl"_s, arguments);
        const bool watching = arguments.contains(u"--watch"_s); // ended after its first line
        if (watching && QTest::qWaitFor([&] { return process.canReadLine(); }, 10000))
            process.kill();
        if (!finished.wait(10000))
            return {};
        return {watching ? -1 : process.exitCode(),
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private Q_SLOTS:
    // Sessions are given as "name:status", with a trailing "!" for an exited process.
    void statusText_data()
    {
        QTest::addColumn<QString>("sessions");
        QTest::addColumn<QString>("problem"); // why Tolvo receives no events
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("tooltip");

        QTest::newRow("only earlier and exited ones")
            << u"old:off,gone:working!"_s << QString() << u"no sessions"_s << u"none"_s
            << u"No Claude Code sessions"_s;
        QTest::newRow("all ready") << u"a:ready,b:ready"_s << QString() << u"2 ready"_s << u"idle"_s
                                   << u"a: ready\nb: ready"_s;
        QTest::newRow("waiting ones named in order, first")
            << u"api:working,b:waiting,docs:ready,a:waiting"_s << u"p"_s
            << u"1 working · 2 waiting: b, a · not receiving events: p"_s << u"waiting"_s
            << u"Not receiving events: p\napi: working\nb: waiting\ndocs: ready\na: waiting"_s;
        QTest::newRow("failed outranks a problem")
            << u"f:failed,w:working"_s << u"pipe\ntaken"_s
            << u"1 working · 1 failed · not receiving events: pipe taken"_s << u"failed"_s
            << u"Not receiving events: pipe taken\nf: failed\nw: working"_s;
        QTest::newRow("a problem outranks working")
            << u"y:working"_s << u"p"_s << u"1 working · not receiving events: p"_s << u"error"_s
            << u"Not receiving events: p\ny: working"_s;
        // Names come from the user's folders and prompts: one line, and markup escaped for waybar.
        QTest::newRow("hostile name") << u"<b>a\nb</b> & \"c\\d\":waiting"_s << QString()
                                      << u"1 waiting: <b>a b</b> & \"c\\d\""_s << u"waiting"_s
                                      << u"<b>a b</b> & \"c\\d\": waiting"_s;
    }
    void statusText()
    {
        QFETCH(QString, sessions);
        QFETCH(QString, problem);
        QFETCH(QString, line);
        QFETCH(QString, kind);
        QFETCH(QString, tooltip);
        QJsonArray list;
        for (const QString &session : sessions.split(u',', Qt::SkipEmptyParts)) {
            const QString status = session.section(u':', -1); // "!": an exited process
            list.append(QJsonObject{{u"displayName"_s, session.section(u':', 0, -2)},
                                    {u"status"_s, QString(status).remove(u'!')},
                                    {u"exited"_s, status.endsWith(u'!')}});
        }
        QCOMPARE(StatusText::statusLine(list, problem), line);
        const QJsonObject waybar = StatusText::waybarObject(list, problem);
        QCOMPARE(waybar.value(u"text").toString(), line.toHtmlEscaped());
        QCOMPARE(waybar.value(u"tooltip").toString(), tooltip.toHtmlEscaped());
        QCOMPARE(waybar.value(u"class").toString() + u'|' + waybar.value(u"alt").toString(),
                 kind + u'|' + kind);
    }

    // Names on the command line: an id or pid names one running session, a name
    // every running one called so.
    void sessionTarget_data()
    {
        QTest::addColumn<QString>("targets"); // separated by "|"
        QTest::addColumn<QString>("named");   // candidate lines, joined by "|"
        const QString first = u"webshop (pid 7, /w/webshop)"_s, second = u"webshop (pid 8, /x/w)"_s;
        QTest::newRow("ids in any case") << u"a1|C0FFEE"_s << first;
        QTest::newRow("a pid before a name") << u"8"_s << second;
        QTest::newRow("not running") << u"api|blog|-5|"_s << QString();
    }
    void sessionTarget()
    {
        const QJsonArray sessions = QJsonDocument::fromJson(R"([
            {"id":"A1","agentSessionId":"c0ffee","pid":7,"displayName":"webshop","projectPath":"/w/webshop"},
            {"id":"B2","pid":8,"displayName":"webshop","projectPath":"/x/w"},
            {"id":"C3","pid":9,"displayName":"api","exited":true},
            {"id":"D4","pid":-5,"displayName":"blog"}, {"id":"E5","pid":10,"displayName":"8"}])")
                                        .array();
        QFETCH(QString, targets);
        for (const QString &target : targets.split(u'|')) {
            QStringList lines;
            for (const QJsonValue &session : SessionTarget::named(sessions, target))
                lines.append(SessionTarget::candidateLine(session.toObject()));
            QTEST(lines.join(u'|'), "named");
        }
    }

    void initTestCase()
    {
        m_bus.start(u"dbus-daemon"_s, {u"--config-file=" TOLVO_TEST_BUS_CONFIG ""_s, u"--nofork"_s,
                                       u"--print-address=1"_s});
        QVERIFY(m_bus.waitForReadyRead(10000));
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(u"fake"_s);
        m_bus.terminate();
        m_bus.waitForFinished();
    }

    void status_data()
    {
        QTest::addColumn<QString>("arguments"); // separated by spaces
        QTest::addColumn<QString>("reply");     // no reply: Tolvo is not on the bus
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const auto add = [](const char *name, const char *arguments, const QString &reply,
                            int exitCode, const QString &out, const QString &err = {}) {
            QTest::newRow(name) << QString::fromUtf8(arguments) << reply << exitCode << out << err;
        };
        const QString sessions =
            uR"([{"id":"7","pid":7,"displayName":"webshop","status":"waiting","statusLine":"Waiting for Input: Bash","exited":false},{"id":"8","pid":8,"displayName":"api","status":"working","statusLine":"Working: Bash","exited":false}])"_s;
        add("line", "status", sessions, 0, u"1 working · 1 waiting: webshop\n"_s);
        add("json as sent", "status --json", sessions, 0, sessions + u'\n');
        add("waybar", "status --waybar", sessions, 0,
            uR"({"alt":"waiting","class":"waiting","text":"1 working · 1 waiting: webshop","tooltip":"webshop: Waiting for Input: Bash\napi: Working: Bash"})"_s
            u"\n"_s);
        add("not running", "status --waybar", {}, 1, {}, u"tolvoctl: Tolvo is not running\n"_s);
        // Why it could not ask, as a waybar line that stays valid JSON (-1: ended after a line).
        add("waybar while Tolvo fails", "status --waybar --watch", uR"(!C:\x "q" <b>)"_s, -1,
            uR"({"alt":"none","class":"none","text":"","tooltip":"Tolvo did not answer: C:\\x &quot;q&quot; &lt;b&gt;"})"_s
            u"\n"_s);
        add("not a list", "status", u"{}"_s, 1, {},
            u"tolvoctl: Tolvo answered with something other than a list of sessions\n"_s);
        add("unknown option", "status --xml", sessions, 2, {}, u"tolvoctl: Unknown option 'xml'"_s);
    }
    void status()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, reply);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        FakeTolvo tolvo;
        tolvo.sessions = reply;
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, u"fake"_s);
        QVERIFY(bus.isConnected());
        if (!reply.isEmpty()) {
            QVERIFY(
                bus.registerObject(u"/com/tolvo/Tolvo"_s, &tolvo, QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService(u"com.tolvo.Tolvo"_s));
        }
        const Run run = tolvoctl(arguments.split(u' '));
        bus.unregisterService(u"com.tolvo.Tolvo"_s);
        bus.unregisterObject(u"/com/tolvo/Tolvo"_s);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, out);
        QVERIFY2(run.err.startsWith(err), qPrintable(run.err));
    }

    // `tolvoctl remote`: the host is set up through its transport (here the local
    // "env HOME=%home", or an ssh that cannot resolve its host), then listed in the
    // running Tolvo or, without one, in the stored list.
    void remote_data()
    {
        QTest::addColumn<QString>("arguments"); // separated by "|"
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");   // its end
        QTest::addColumn<QString>("err");   // its start
        QTest::addColumn<QString>("after"); // the calls Tolvo got, else the stored list
        const QString devbox = uR"([{"name":"devbox","transport":"ssh devbox"}])"_s;
        const QString gone =
            uR"([{"name":"box","transport":"ssh -F /dev/null nowhere.invalid"}])"_s;
        const QString unresolved =
            u"tolvoctl: could not reach box: ssh: Could not resolve hostname nowhere.invalid"_s;
        QTest::newRow("list, Tolvo not running")
            << u"remote|list"_s << false << devbox << 0
            << u"devbox (ssh devbox): Tolvo is not running\n"_s << QString() << devbox;
        QTest::newRow("list from Tolvo")
            << u"remote|list"_s << true << QString() << 0
            << u"devbox (ssh devbox): disconnected: ssh: Connection refused\n"
               u"box (env HOME=%home): connected\n"_s
            << QString() << QString();
        QTest::newRow("no name") << u"remote|add|a b"_s << false << QString() << 2 << QString()
                                 << u"tolvoctl: a host's name has at most 64"_s << u"[]"_s;
        QTest::newRow("added, Tolvo not running")
            << u"remote|add|box|--transport|env HOME=%home"_s << false << devbox << 0
            << u"hooks installed in box:~/.claude/settings.json\n"
               u"Tolvo follows box now (from when it starts)\n"_s
            << QString()
            << uR"([{"name":"devbox","transport":"ssh devbox"},)"
               uR"({"name":"box","transport":"env HOME=%home"}])"_s;
        QTest::newRow("added through Tolvo")
            << u"remote|add|box|--transport|env HOME=%home"_s << true << QString() << 0
            << u"Tolvo follows box now\n"_s << QString() << u"add box env HOME=%home"_s;
        QTest::newRow("not added when unreachable")
            << u"remote|add|box|--transport|ssh -F /dev/null nowhere.invalid"_s << false
            << QString() << 1 << QString() << unresolved << u"[]"_s;
        QTest::newRow("an unreachable host is forgotten all the same")
            << u"remote|remove|box"_s << false << gone << 1
            << u"Tolvo no longer follows box (from when it starts)\n"_s << unresolved << u"[]"_s;
        QTest::newRow("removed through the transport Tolvo knows")
            << u"remote|remove|box"_s << true << QString() << 0
            << u"box had no helper to delete\nTolvo no longer follows box\n"_s << QString()
            << u"remove box"_s;
    }
    void remote()
    {
        QFETCH(QString, arguments);
        QFETCH(bool, running);
        QFETCH(QString, stored);
        QFETCH(QString, after);
        QTemporaryDir remoteHome;
        const auto placed = [&](QString text) {
            return text.replace(u"%home"_s, remoteHome.path());
        };
        QFile::remove(DefaultsStore::defaultFilePath());
        if (!stored.isEmpty())
            DefaultsStore().setText(RemoteHosts::key, stored);
        FakeTolvo tolvo;
        tolvo.hosts = placed(
            uR"([{"name":"devbox","transport":"ssh devbox","state":"disconnected","message":"ssh: Connection refused"},)"
            uR"({"name":"box","transport":"env HOME=%home","state":"connected","message":""}])"_s);
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, u"fake"_s);
        if (running) {
            QVERIFY(
                bus.registerObject(u"/com/tolvo/Tolvo"_s, &tolvo, QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService(u"com.tolvo.Tolvo"_s));
        }
        const Run run = tolvoctl(placed(arguments).split(u'|'));
        bus.unregisterService(u"com.tolvo.Tolvo"_s);
        bus.unregisterObject(u"/com/tolvo/Tolvo"_s);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTEST(run.exitCode, "exitCode");
        QVERIFY2(run.out.endsWith(placed(out)), qPrintable(run.out));
        QVERIFY2(run.err.startsWith(err), qPrintable(run.err));
        if (running)
            QCOMPARE(tolvo.calls.join(u';'), placed(after));
        else
            QCOMPARE(QJsonDocument::fromJson(
                         DefaultsStore().text(RemoteHosts::key).value_or(u"[]"_s).toUtf8()),
                     QJsonDocument::fromJson(placed(after).toUtf8()));
    }

    // `tolvoctl hooks` writes exactly what the library writes, over the installer's corpus, and
    // for each agent; after an install into Codex's file it says what Codex's trust needs. For
    // Claude Code install also shares its status line.
    void hooksMatchLibrary_data()
    {
        QTest::addColumn<QString>("corpusFile");
        QTest::addColumn<QString>("agent");
        QTest::newRow("missing") << u"missing.json"_s << u"claude"_s;
        const QDir corpus(u"" TOLVO_SETUP_CORPUS_DIR ""_s);
        for (const QString &name : corpus.entryList({u"*.json"_s}, QDir::Files, QDir::Name)) {
            if (!name.endsWith(u".removed.json"))
                QTest::newRow(qPrintable(name)) << corpus.filePath(name) << u"claude"_s;
        }
        for (const QString &agent : {u"codex"_s, u"gemini"_s})
            QTest::newRow(qPrintable(agent)) << corpus.filePath(u"user-hooks.json"_s) << agent;
    }
    void hooksMatchLibrary()
    {
        QFETCH(QString, corpusFile);
        QFETCH(QString, agent);
        const HookInstaller::Agent named = *HookConfiguration::agentNamed(agent);
        QTemporaryDir dir;
        const QString library = dir.filePath(u"library/settings.json"_s);
        const QString binary = dir.filePath(u"binary/settings.json"_s);
        if (QFile::exists(corpusFile)) {
            for (const QString &path : {library, binary}) {
                QDir().mkpath(QFileInfo(path).absolutePath());
                QVERIFY(QFile::copy(corpusFile, path));
            }
        }
        const QString prefix = TestPaths::buildPrefix(); // where tolvoctl runs from
        for (const QString &action : {u"install"_s, u"install"_s, u"remove"_s}) {
            const Run run =
                tolvoctl({u"hooks"_s, action, u"--agent"_s, agent, u"--settings"_s, binary});
            const HookInstaller::FileOutcome outcome =
                action == u"install"
                    ? HookInstaller::installFile(library, prefix, {},
                                                 PermissionHold::defaultMinutes, named, true)
                    : HookInstaller::removeFile(library, {}, named);
            QString said = QString(outcome.message).replace(library, binary) + u'\n';
            if (named == HookInstaller::Agent::codex && action == u"install")
                said += CodexTrust::note(binary, outcome.changed) + u'\n';
            QCOMPARE(run.exitCode, outcome.ok ? 0 : 1);
            QCOMPARE(outcome.ok ? run.out : run.err, said);
            QCOMPARE(readFile(binary), readFile(library));
            QCOMPARE(readFile(HookInstaller::backupPath(binary)),
                     readFile(HookInstaller::backupPath(library)));
        }
    }
};

QTEST_GUILESS_MAIN(TestTolvoctl)
#include "tst_tolvoctl.moc"
