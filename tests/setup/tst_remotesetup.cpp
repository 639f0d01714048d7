#include "hookinstaller.h"
#include "remotesetup.h"
#include "sshserver.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using TestPaths::readFile;

namespace {

QString localHelper()
{
    return TestPaths::buildPrefix() + u"/libexec/tolvo/tolvo-hook"_s;
}

RemoteSetup::Result setUp(bool add, const QString &transport, int stepTimeout = 30000)
{
    RemoteSetup setup;
    setup.setLocalHelper(localHelper());
    setup.setStepTimeout(stepTimeout);
    const RemoteHost host{u"devbox"_s, transport};
    return add ? setup.addAndWait(host) : setup.removeAndWait(host);
}

QJsonDocument json(const QByteArray &settings)
{
    return QJsonDocument::fromJson(settings.isEmpty() ? "{}" : settings);
}

struct stat status(const QString &path)
{
    struct stat info;
    if (::lstat(qPrintable(path), &info) != 0)
        info = {};
    return info;
}

} // namespace

class TestRemoteSetup : public QObject
{
    Q_OBJECT

    TestHome m_home;
    QTemporaryDir m_fakeBin; // stand-ins for a remote's programs
    SshServer m_server;
    QString m_noServer; // why there is no server

private Q_SLOTS:
    void initTestCase()
    {
        // Someone else edits the settings whenever Tolvo is about to write them.
        const QByteArray meddle =
            "#!/bin/sh\ncase \"$*\" in *tolvo-new*) "
            "echo \"{\\\"edited\\\": $$}\" >\"$HOME/.claude/settings.json\";; "
            "esac\nexec \"$@\"\n";
        const QByteArray uname = "#!/bin/sh\ncase \"$1\" in -m) echo \"$FAKE_MACHINE\";; "
                                 "*) echo \"$FAKE_SYSTEM\";; esac\n";
        for (const auto &[name, script] :
             {std::pair{"meddle", meddle}, std::pair{"uname", uname}}) {
            const QString path = m_fakeBin.filePath(QLatin1String(name));
            QVERIFY(TestPaths::writeFile(path, script));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
        }
        m_noServer = SshServer::unavailable();
        if (m_noServer.isEmpty())
            QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    }

    // Over a real ssh connection: add copies the helper and installs hooks that run it,
    // keeping what the user had; adding again changes nothing; remove takes both out.
    void addAndRemove_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no settings file
        QTest::addColumn<bool>("linked");         // the file is a link into a dotfiles folder
        QTest::newRow("no settings") << QByteArray() << false;
        QTest::newRow("the user's own, through a link to their dotfiles")
            << QByteArray(R"({"model": "opus", "n": 1.50, "hooks": {"Stop": [{"hooks": [)"
                          R"({"type": "command", "command": "notify-send done"}]}]}})")
            << true;
    }
    void addAndRemove()
    {
        if (!m_noServer.isEmpty())
            QSKIP(qPrintable(m_noServer));
        QFETCH(QByteArray, settings);
        QFETCH(bool, linked);
        m_server.clearHome();
        const QString home = m_server.home();
        const QString path = home + u"/.claude/settings.json"_s;
        const QString file = linked ? home + u"/dots/settings.json"_s : path;
        if (!settings.isNull())
            QVERIFY(TestPaths::writeFile(file, settings));
        if (linked)
            QVERIFY(QDir().mkpath(home + u"/.claude"_s) &&
                    QFile::link(u"../dots/settings.json"_s, path));
        // The remote user's own files.
        QCOMPARE(QProcess::execute(
                     u"chown"_s,
                     {u"-R"_s, u"-h"_s, u"%1:%2"_s.arg(m_server.uid()).arg(m_server.gid()), home}),
                 0);

        const RemoteSetup::Result added = setUp(true, m_server.transport());
        QVERIFY2(added.ok, qPrintable(added.error));
        QCOMPARE(added.lines.size(), settings.isNull() ? 2 : 3); // copied, installed, backup
        const QString helper = home + u"/.local/libexec/tolvo/tolvo-hook"_s;
        QCOMPARE(readFile(helper), readFile(localHelper()));
        const struct stat copied = status(helper);
        QCOMPARE(copied.st_mode & 07777, 0755u);
        QCOMPARE(copied.st_uid, m_server.uid());
        const QByteArray installed = readFile(file);
        QCOMPARE(HookInstaller::inspect(installed, home + u"/.local"_s).state,
                 HookInstaller::State::Installed);
        QCOMPARE(status(file).st_uid, m_server.uid());
        QCOMPARE(QFileInfo(path).isSymLink(), linked);
        // Nothing of the user's is lost: without Tolvo's hooks it is what they had.
        QCOMPARE(json(HookInstaller::remove(installed).text), json(settings));
        QCOMPARE(readFile(HookInstaller::backupPath(path)), settings);

        const RemoteSetup::Result again = setUp(true, m_server.transport());
        QCOMPARE(
            again.lines,
            QStringList(
                {u"the helper on devbox is up to date"_s,
                 u"Tolvo's hooks were already installed in devbox:~/.claude/settings.json"_s}));
        QCOMPARE(status(helper).st_ino, copied.st_ino);

        const RemoteSetup::Result removed = setUp(false, m_server.transport());
        QVERIFY2(removed.ok, qPrintable(removed.error));
        QVERIFY(!QFile::exists(helper));
        QCOMPARE(json(readFile(file)), json(settings));
        QCOMPARE(QFileInfo(path).isSymLink(), linked);
    }

    // What stops a setup before the hooks are written; the error line tells why.
    void refused_data()
    {
        QTest::addColumn<QString>("transport"); // "%fake": the fake uname's folder
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("error"); // its start
        const QString fake = u"env PATH=%fake:/usr/bin:/bin FAKE_SYSTEM=%1 FAKE_MACHINE=%2"_s;
        const QString machine = RemoteSetup::localMachine();
        QTest::newRow("another machine")
            << fake.arg(u"Linux"_s, u"riscv64"_s) << QByteArray()
            << u"devbox is riscv64; this Tolvo's helper is built for "_s + machine;
        QTest::newRow("another system") << fake.arg(u"Darwin"_s, machine) << QByteArray()
                                        << u"devbox runs Darwin; this Tolvo's helper is built "
                                           u"for Linux"_s;
        QTest::newRow("settings that are not settings")
            << u"env HOME=%home"_s << QByteArray("[1]")
            << u"devbox:~/.claude/settings.json was not changed: the file "_s;
        QTest::newRow("edited meanwhile, twice")
            << u"env HOME=%home %fake/meddle"_s << QByteArray("{}")
            << u"could not write devbox:~/.claude/settings.json: it changed while Tolvo was "
               u"writing it, try again"_s;
        QTest::newRow("unknown host")
            << u"ssh -F /dev/null nowhere.invalid"_s << QByteArray()
            << u"could not reach devbox: ssh: Could not resolve hostname nowhere.invalid"_s;
        QTest::newRow("no such program") << u"/nonexistent/ssh devbox"_s << QByteArray()
                                         << u"could not reach devbox: /nonexistent/ssh cannot "
                                            u"be started"_s;
        QTest::newRow("no answer") << u"sh -c \"exec sleep 9\" sh"_s << QByteArray()
                                   << u"could not reach devbox: no answer within 2 s"_s;
    }
    void refused()
    {
        QFETCH(QString, transport);
        QFETCH(QByteArray, settings);
        QTemporaryDir remoteHome;
        QVERIFY(TestPaths::writeFile(remoteHome.filePath(u".claude/settings.json"_s), settings));
        transport.replace(u"%fake"_s, m_fakeBin.path()).replace(u"%home"_s, remoteHome.path());
        const RemoteSetup::Result result = setUp(true, transport, 2000);
        QVERIFY(!result.ok);
        QFETCH(QString, error);
        QVERIFY2(result.error.startsWith(error), qPrintable(result.error));
        QVERIFY(!QFile::exists(m_home.path() + u"/.local"_s));
        QVERIFY(!readFile(remoteHome.filePath(u".claude/settings.json"_s)).contains("tolvo-hook"));
    }

    // While the server is down ssh's own line says so; once it is back, so is the host.
    void serverDown()
    {
        if (!m_noServer.isEmpty())
            QSKIP(qPrintable(m_noServer));
        m_server.stop();
        const RemoteSetup::Result down = setUp(true, m_server.transport());
        QVERIFY(!down.reached);
        QCOMPARE(down.error, u"could not reach devbox: ssh: connect to host 127.0.0.1 port %1: "
                             u"Connection refused"_s.arg(m_server.port()));
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        const RemoteSetup::Result up = setUp(false, m_server.transport());
        QVERIFY2(up.ok, qPrintable(up.error));
    }
};

QTEST_GUILESS_MAIN(TestRemoteSetup)
#include "tst_remotesetup.moc"
