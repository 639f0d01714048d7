// The application among other processes of the desktop: a second launch, a
// click on a notification, a script asking over the bus. Runs under
// with-notification-server.sh (Xvfb, a private session bus, dunst).

#include "busservice.h"
#include "hooksession.h"
#include "instancemanager.h"
#include "quickitems.h"
#include "singleinstance.h"
#include "testsupport.h"
#include "zizovezovodavudovapp.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQuickWindow>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString dunstctl(const QStringList &arguments)
{
    QProcess dunstctl;
    dunstctl.start(u"dunstctl"_s, arguments);
    dunstctl.waitForFinished();
    return QString::fromUtf8(dunstctl.readAllStandardOutput()).trimmed();
}

QString instancesOverTheBus()
{
    const QDBusMessage answer = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(SingleInstance::serviceName, SingleInstance::objectPath,
                                       u"com.tolvo.Tolvo"_s, u"Instances"_s));
    return answer.arguments().value(0).toString();
}

// The project path of the only instance whose log has `entries` entries.
bool hasLog(const InstanceManager &manager, const QString &project, qsizetype entries)
{
    for (const ClaudeCodeInstance &instance : manager.instances())
        if (instance.projectPath == project)
            return instance.activityLog.size() == entries;
    return false;
}

} // namespace

class TestDesktopShell : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A second Tolvo never becomes a second listener. In the same session it
    // hands over to the running one, which shows its window; anywhere else
    // the lock turns it away. The running one's pipe works on either way.
    void secondLaunch_data()
    {
        QTest::addColumn<QStringList>("command"); // before the binary
        QTest::addColumn<QString>("busAddress");  // empty: the session's bus
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("windowShown");
        QTest::newRow("same session") << QStringList() << QString() << 0 << true;
        QTest::newRow("no session bus")
            << QStringList() << u"unix:path=/nonexistent"_s << 1 << false;
        QTest::newRow("another session's bus")
            << QStringList{u"dbus-run-session"_s, u"--"_s} << QString() << 1 << false;
    }

    void secondLaunch()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, busAddress);
        QFETCH(int, exitCode);
        QFETCH(bool, windowShown);

        TestHome home;
        ConsoleCapture console;
        SingleInstance single;
        QCOMPARE(single.claim(), SingleInstance::Outcome::First);
        auto app = std::make_unique<ZizoveZovoDavudovApp>();
        ZizoveZovoDavudovApp &tolvo = *app;
        QVERIFY(tolvo.start());
        BusService service(tolvo.instanceManager(),
                           [&tolvo](const QVariantMap &data) { tolvo.showMainWindow(data); });
        QVERIFY(service.registerOn(QDBusConnection::sessionBus()));
        QVERIFY(!tolvo.mainWindow()->isVisible());

        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!busAddress.isEmpty())
            env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
        second.setProcessEnvironment(env);
        command << TestPaths::buildPrefix() + u"/bin/tolvo"_s;
        QElapsedTimer clock;
        clock.start();
        second.start(command.takeFirst(), command);
        // This process must keep answering the bus while the second one asks.
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 5000);
        const qint64 elapsedMs = clock.elapsed();
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), exitCode);
        const QStringList errors =
            QString::fromLocal8Bit(second.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
        if (exitCode == 0) {
            QVERIFY2(elapsedMs < 1000, qPrintable(QString::number(elapsedMs)));
            QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u'\n')));
        } else {
            const QStringList refusals = errors.filter(u"Tolvo is already running"_s);
            QVERIFY2(refusals.size() == 1, qPrintable(errors.join(u'\n')));
        }
        QTRY_COMPARE(tolvo.mainWindow()->isVisible(), windowShown);

        // Events written afterwards through the real hook command still arrive.
        const QString project = u"/home/user/code/webshop"_s;
        HookSession claude(TestPaths::buildPrefix());
        QVERIFY(claude.send(HookSession::fixture(u"UserPromptSubmit.json"_s, project)));
        QTRY_VERIFY(hasLog(tolvo.instanceManager(), project, 1));
        QTRY_VERIFY(instancesOverTheBus().contains(u"\"projectPath\":\""_s + project + u'"'));
    }

    // Clicking a permission notification brings up the window with that
    // session's row open, and the notification goes away.
    void notificationLeadsToItsSession()
    {
        TestHome home;
        ConsoleCapture console;
        SingleInstance single;
        QCOMPARE(single.claim(), SingleInstance::Outcome::First);
        ZizoveZovoDavudovApp tolvo;
        QVERIFY(tolvo.start());
        BusService service(tolvo.instanceManager(), [](const QVariantMap &) {});
        QVERIFY(service.registerOn(QDBusConnection::sessionBus()));
        QVERIFY(!tolvo.mainWindow()->isVisible());

        const QString other = u"/home/user/code/blog"_s, waiting = u"/home/user/code/webshop"_s;
        HookSession first(TestPaths::buildPrefix()), second(TestPaths::buildPrefix());
        QVERIFY(first.send(HookSession::fixture(u"UserPromptSubmit.json"_s, other)));
        QTRY_VERIFY(hasLog(tolvo.instanceManager(), other, 1));
        for (const QString &fixture : {u"UserPromptSubmit.json"_s, u"PreToolUse-Bash.json"_s,
                                       u"Notification-permission_prompt.json"_s})
            QVERIFY(second.send(HookSession::fixture(fixture, waiting)));
        QTRY_VERIFY(hasLog(tolvo.instanceManager(), waiting, 3));
        QTRY_COMPARE(dunstctl({u"count"_s, u"displayed"_s}), u"1"_s);

        // A status bar asking over the bus sees who waits.
        QProcess ctl;
        ctl.start(TestPaths::buildPrefix() + u"/bin/tolvoctl"_s, {u"status"_s, u"--waybar"_s});
        QTRY_VERIFY(ctl.state() == QProcess::NotRunning); // this process answers meanwhile
        QCOMPARE(ctl.exitCode(), 0);
        const QJsonObject bar = QJsonDocument::fromJson(ctl.readAllStandardOutput()).object();
        QCOMPARE(bar.value(u"class"_s).toString(), u"waiting"_s);
        QVERIFY2(bar.value(u"text"_s).toString().endsWith(u"waiting: webshop"_s),
                 qPrintable(bar.value(u"text"_s).toString()));

        dunstctl({u"action"_s});
        QTRY_VERIFY(tolvo.mainWindow()->isVisible());
        QQuickItem *list = findItem(tolvo.mainWindow()->contentItem(), u"instanceList"_s);
        QVERIFY(list);
        const auto rowOf = [&](const QString &project) -> QQuickItem * {
            for (const ClaudeCodeInstance &instance : tolvo.instanceManager().instances())
                if (instance.projectPath == project)
                    if (QQuickItem *slot = findItem(list, u"slot-"_s + instance.id))
                        return findItem(slot, u"instanceRow"_s);
            return nullptr;
        };
        QTRY_VERIFY(rowOf(waiting) && rowOf(waiting)->property("isExpanded").toBool());
        QVERIFY(rowOf(other) && !rowOf(other)->property("isExpanded").toBool());
        QTRY_COMPARE(dunstctl({u"count"_s, u"displayed"_s}), u"0"_s);
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_desktopshell.moc"
