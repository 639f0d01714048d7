#include "managerfixture.h"

#include <QProcess>
#include <QSignalSpy>
#include <limits>

namespace {

// The pid of a child that has been started, killed and reaped.
qint64 goneProcessId()
{
    QProcess child;
    child.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    if (!child.waitForStarted())
        qFatal("could not start sleep");
    const qint64 pid = child.processId();
    child.kill();
    child.waitForFinished();
    return pid;
}

} // namespace

class TestExitedSessions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectionCheckMarksGoneProcesses_data()
    {
        QTest::addColumn<QString>("process");
        QTest::addColumn<bool>("exited");
        QTest::newRow("killed child") << "gone" << true;
        QTest::newRow("this process") << "self" << false;
        // As root kill() succeeds; otherwise it fails with EPERM. Alive either way.
        QTest::newRow("init, EPERM unless root") << "init" << false;
        // Narrowed to pid_t this would be -1: every process, "alive".
        QTest::newRow("beyond pid_t") << "huge" << true;
    }
    void connectionCheckMarksGoneProcesses()
    {
        QFETCH(QString, process);
        QFETCH(bool, exited);
        const qint64 pid = process == u"gone"   ? goneProcessId()
                           : process == u"self" ? QCoreApplication::applicationPid()
                           : process == u"init" ? 1
                                                : qint64(std::numeric_limits<quint32>::max());
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("PreToolUse"), pid, QStringLiteral("/w/a"), QStringLiteral("Bash"));
        const QString id = f.byPid(pid).id;
        QSignalSpy changed(f.manager.get(), &InstanceManager::instanceChanged);

        f.manager->checkConnection();
        f.manager->checkConnection(); // announced once, not on every check
        QCOMPARE(f.byPid(pid).exited, exited);
        QCOMPARE(f.byPid(pid).status, InstanceStatus::working); // the status stays as it was
        QCOMPARE(changed.size(), exited ? 1 : 0);
        if (exited)
            QCOMPARE(changed.first().first().toString(), id);
    }

    void nextEventFromThePidUnmarks_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("handled event") << "Stop";
        QTest::newRow("unknown event") << "SessionStart";
    }
    void nextEventFromThePidUnmarks()
    {
        QFETCH(QString, event);
        ManagerFixture f;
        f.start();
        const qint64 pid = goneProcessId();
        f.send(QStringLiteral("UserPromptSubmit"), pid, QStringLiteral("/w/a"));
        f.manager->checkConnection();
        QVERIFY(f.byPid(pid).exited);
        QSignalSpy changed(f.manager.get(), &InstanceManager::instanceChanged);
        f.send(event, pid, QStringLiteral("/w/a"));
        QVERIFY(!f.byPid(pid).exited);
        QCOMPARE(changed.size(), 1); // one row update, whatever the event
    }

    void removeExitedRemovesExactlyThose()
    {
        ManagerFixture f;
        f.defaults->setData(InstanceManager::savedInstancesKey,
                            "{\"/w/old\":{\"id\":\"OLD\",\"projectPath\":\"/w/old\","
                            "\"projectName\":\"old\"}}");
        f.start(); // a restored placeholder, never exited
        const qint64 self = QCoreApplication::applicationPid();
        const qint64 gone[] = {goneProcessId(), goneProcessId()};
        f.send(QStringLiteral("Stop"), gone[0], QStringLiteral("/w/b"));
        f.send(QStringLiteral("Stop"), self, QStringLiteral("/w/a"));
        f.send(QStringLiteral("Stop"), gone[1], QStringLiteral("/w/c"));
        f.send(QStringLiteral("Stop"), 1, QStringLiteral("/w/c")); // a new session, same directory
        const QStringList goneIds{f.byPid(gone[0]).id, f.byPid(gone[1]).id};
        f.manager->checkConnection();

        QSignalSpy removed(f.manager.get(), &InstanceManager::instanceRemoved);
        QSignalSpy count(f.manager.get(), &InstanceManager::instanceCountChanged);
        f.manager->removeExitedInstances();
        f.manager->removeExitedInstances(); // nothing left to remove
        QCOMPARE(QStringList({removed.at(0).at(0).toString(), removed.at(1).at(0).toString()}),
                 goneIds);
        QCOMPARE(removed.size(), 2);
        QCOMPARE(count.size(), 1);
        const QStringList kept{"OLD", f.byPid(self).id, f.byPid(1).id};
        QCOMPARE(f.sortedIds(), kept);

        // A restart restores exactly the ones kept, in the same order.
        f.restart();
        QCOMPARE(f.sortedIds(), kept);
        for (const QString &id : goneIds)
            QVERIFY(!f.manager->instanceOrder().contains(id));
    }
};

QTEST_GUILESS_MAIN(TestExitedSessions)
#include "tst_exitedsessions.moc"
