#include "managerfixture.h"

#include <QSignalSpy>

class TestListOperations : public QObject
{
    Q_OBJECT

    // Live instances x, y, z (pids 1, 2, 3) in that display order.
    static void makeThree(ManagerFixture &f)
    {
        f.start();
        for (int pid = 1; pid <= 3; ++pid)
            f.send(QStringLiteral("Stop"), pid, QStringLiteral("/w/") + QChar(u'w' + pid));
    }
    static QStringList names(const ManagerFixture &f)
    {
        QStringList result;
        for (const ClaudeCodeInstance &i : f.manager->sortedInstances())
            result.append(i.displayName());
        return result;
    }

private Q_SLOTS:
    void sortedInstances_data()
    {
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("B, A") << QByteArray("[\"B\",\"A\"]") << QStringList{"B", "A", "C"};
        QTest::newRow("empty") << QByteArray("[]") << QStringList{"A", "C", "B"};
        QTest::newRow("stale ids") << QByteArray("[\"Q\",\"C\",\"R\"]") << QStringList{"C", "A", "B"};
    }
    void sortedInstances()
    {
        QFETCH(QByteArray, order);
        QFETCH(QStringList, sorted);
        ManagerFixture f;
        // Restored in path order, so instances are A, C, B.
        f.defaults->setData(InstanceManager::savedInstancesKey,
                            "{\"/1\":{\"id\":\"A\",\"projectPath\":\"/1\",\"projectName\":\"1\"},"
                            "\"/2\":{\"id\":\"C\",\"projectPath\":\"/2\",\"projectName\":\"2\"},"
                            "\"/3\":{\"id\":\"B\",\"projectPath\":\"/3\",\"projectName\":\"3\"}}");
        f.defaults->setData(InstanceManager::instanceOrderKey, order);
        f.start();
        QCOMPARE(f.sortedIds(), sorted);
    }

    void moveInstances_data()
    {
        QTest::addColumn<QList<int>>("sources");
        QTest::addColumn<int>("destination");
        QTest::addColumn<QStringList>("result"); // empty: nothing happens
        QTest::newRow("first before third") << QList<int>{0} << 2 << QStringList{"y", "x", "z"};
        QTest::newRow("first to the end") << QList<int>{0} << 3 << QStringList{"y", "z", "x"};
        QTest::newRow("last to the front") << QList<int>{2} << 0 << QStringList{"z", "x", "y"};
        QTest::newRow("block of two") << QList<int>{0, 2} << 2 << QStringList{"y", "x", "z"};
        QTest::newRow("destination beyond") << QList<int>{0} << 4 << QStringList{};
        QTest::newRow("source beyond") << QList<int>{3} << 0 << QStringList{};
        QTest::newRow("negative source") << QList<int>{-1, 1} << 0 << QStringList{};
        QTest::newRow("no source") << QList<int>{} << 0 << QStringList{};
    }
    void moveInstances()
    {
        QFETCH(QList<int>, sources);
        QFETCH(int, destination);
        QFETCH(QStringList, result);
        ManagerFixture f;
        f.defaults->setData(InstanceManager::instanceOrderKey, "[\"gone\"]");
        makeThree(f);
        QSignalSpy order(f.manager.get(), &InstanceManager::orderChanged);
        f.manager->moveInstances(QSet<int>(sources.begin(), sources.end()), destination);
        QCOMPARE(names(f), result.isEmpty() ? QStringList({"x", "y", "z"}) : result);
        QCOMPARE(order.size(), result.isEmpty() ? 0 : 1);
        // A move rewrites the stored order with exactly the current ids.
        if (!result.isEmpty())
            QCOMPARE(*decodeInstanceOrder(*f.defaults->data(InstanceManager::instanceOrderKey)), f.sortedIds());
    }

    void rename_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stored"); // "shown|custom name|record's name", "-" for none
        QTest::newRow("named") << "/w/api" << "Backend" << "Backend|Backend|Backend";
        QTest::newRow("not trimmed") << "/w/api" << " B " << " B | B | B ";
        QTest::newRow("empty clears") << "/w/api" << "" << "api|-|-";
        QTest::newRow("unknown directory") << "" << "Solo" << "Solo|-|-";
    }
    void rename()
    {
        QFETCH(QString, directory);
        QFETCH(QString, name);
        QFETCH(QString, stored);
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("Stop"), 5, directory.isEmpty() ? std::nullopt : std::optional<QString>(directory));
        f.manager->updateCustomName(f.byPid(5).id, QStringLiteral("first"));
        f.manager->updateCustomName(f.byPid(5).id, name);
        const QString path = f.byPid(5).projectPath;
        const auto names = decodeCustomNames(f.defaults->data(InstanceManager::customNamesKey).value_or("{}"));
        const auto records = decodeSavedInstances(f.defaults->data(InstanceManager::savedInstancesKey).value_or("{}"));
        QCOMPARE(f.byPid(5).displayName() + u'|' + names->value(path, QStringLiteral("-")) + u'|'
                     + records->value(path).customName.value_or(QStringLiteral("-")),
                 stored);
    }

    void renameAllLeavesUnknownDirectoriesAlone()
    {
        ManagerFixture f;
        makeThree(f);
        f.send(QStringLiteral("Stop"), 4, std::nullopt);
        f.manager->updateCustomName(f.byPid(4).id, QStringLiteral("Loose"));
        f.manager->updateCustomName(f.byPid(1).id, QStringLiteral("Ex"));
        f.manager->updateCustomNames({{"/w/x", ""}, {"/w/y", "Why"}, {"Unknown", "U"}});
        QCOMPARE(f.manager->customNames(), CustomNames({{"/w/y", "Why"}, {"Unknown", "U"}}));
        QCOMPARE(names(f), QStringList({"x", "Why", "z", "Loose"}));
        QCOMPARE(f.manager->savedInstanceData().value(QStringLiteral("/w/x")).customName, QStringLiteral("Ex"));
    }

    void clearRemoveAndMarkRead()
    {
        ManagerFixture f;
        makeThree(f);
        const QString id = f.byPid(2).id;
        f.console.clear();
        f.manager->clearActivityLog(id);
        f.manager->clearActivityLog(QStringLiteral("nobody"));
        QVERIFY(f.byPid(2).activityLog.isEmpty());
        QCOMPARE(f.byPid(2).unreadEventCount, 1); // clearing is not reading
        QCOMPARE(f.console.lines(), QStringList({"🗑️ Cleared activity log for instance y"}));
        f.manager->markAsRead(id);
        QCOMPARE(f.byPid(2).unreadEventCount, 0);

        f.manager->removeInstance(id);
        QCOMPARE(names(f), QStringList({"x", "z"}));
        QVERIFY(!f.manager->instanceOrder().contains(id));
        QVERIFY(!f.manager->savedInstanceData().contains(QStringLiteral("/w/y")));
        // The name stays, so the directory's next instance gets it back.
        f.send(QStringLiteral("Stop"), 8, QStringLiteral("/w/y"));
        QCOMPARE(f.manager->customNames().value(QStringLiteral("/w/y")), QStringLiteral("y"));

        // An unknown id changes nothing but still writes the order.
        f.defaults->remove(InstanceManager::instanceOrderKey);
        f.manager->removeInstance(QStringLiteral("nobody"));
        QCOMPARE(f.manager->instanceCount(), 3);
        QVERIFY(f.defaults->data(InstanceManager::instanceOrderKey).has_value());
    }

    void connectionCheck()
    {
        ManagerFixture f;
        f.start();
        f.manager->namedPipeListener()->stop(); // takes the pipe away
        f.manager->checkConnection();
        QVERIFY(!f.manager->isConnected());
        QDir().mkpath(f.home.path() + QStringLiteral("/.tolvo"));
        QFile file(f.home.pipePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        f.manager->checkConnection();
        QVERIFY(f.manager->isConnected());
        file.remove();
        f.send(QStringLiteral("Stop"), 1, QStringLiteral("/w/x"));
        f.manager->removeInstance(f.byPid(1).id);
        f.manager->checkConnection();
        QVERIFY(f.manager->isConnected()); // an event has been received
    }
};

QTEST_GUILESS_MAIN(TestListOperations)
#include "tst_listoperations.moc"
