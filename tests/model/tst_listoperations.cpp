#include "managerfixture.h"

#include <QSignalSpy>

class TestListOperations : public QObject
{
    Q_OBJECT

    // Three live instances X, Y, Z (pids 1, 2, 3) in that display order.
    static void makeThree(ManagerFixture &f)
    {
        f.start();
        f.send(QStringLiteral("Stop"), 1, QStringLiteral("/w/x"));
        f.send(QStringLiteral("Stop"), 2, QStringLiteral("/w/y"));
        f.send(QStringLiteral("Stop"), 3, QStringLiteral("/w/z"));
    }
    static QStringList names(const ManagerFixture &f)
    {
        QStringList result;
        for (const ClaudeCodeInstance &i : f.manager->sortedInstances())
            result.append(i.projectName);
        return result;
    }

private Q_SLOTS:
    void sortedInstances_data()
    {
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("B, A") << QByteArray(R"(["B","A"])") << QStringList{"B", "A", "C"};
        QTest::newRow("empty") << QByteArray("[]") << QStringList{"A", "C", "B"};
        QTest::newRow("stale ids") << QByteArray(R"(["Q","C","R"])") << QStringList{"C", "A", "B"};
    }
    void sortedInstances()
    {
        QFETCH(QByteArray, order);
        QFETCH(QStringList, sorted);
        ManagerFixture f;
        // Records are restored in path order: /1 -> A, /2 -> C, /3 -> B.
        f.defaults->setData(InstanceManager::savedInstancesKey, QByteArray(
            R"({"/1":{"id":"A","projectPath":"/1","projectName":"1"},
                "/2":{"id":"C","projectPath":"/2","projectName":"2"},
                "/3":{"id":"B","projectPath":"/3","projectName":"3"}})"));
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
        QTest::newRow("onto itself") << QList<int>{1} << 1 << QStringList{"x", "y", "z"};
        QTest::newRow("block of two") << QList<int>{0, 2} << 2 << QStringList{"y", "x", "z"};
        QTest::newRow("block to the end") << QList<int>{0, 1} << 3 << QStringList{"z", "x", "y"};
        QTest::newRow("destination beyond") << QList<int>{0} << 4 << QStringList{};
        QTest::newRow("negative destination") << QList<int>{0} << -1 << QStringList{};
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
        makeThree(f);
        QSignalSpy order(f.manager.get(), &InstanceManager::orderChanged);
        f.manager->moveInstances(QSet<int>(sources.begin(), sources.end()), destination);
        if (result.isEmpty()) {
            QCOMPARE(names(f), QStringList({"x", "y", "z"}));
            QCOMPARE(order.size(), 0);
            return;
        }
        QCOMPARE(names(f), result);
        QCOMPARE(f.manager->instanceOrder(), f.sortedIds());
        QCOMPARE(order.size(), 1);
    }

    void moveDropsStaleIds()
    {
        ManagerFixture f;
        f.defaults->setData(InstanceManager::instanceOrderKey, QByteArray(R"(["gone"])"));
        makeThree(f);
        QCOMPARE(f.manager->instanceOrder().first(), QStringLiteral("gone"));
        f.manager->moveInstances({0}, 0);
        QCOMPARE(f.manager->instanceOrder(), f.sortedIds());
        QCOMPARE(*decodeInstanceOrder(*f.defaults->data(InstanceManager::instanceOrderKey)), f.sortedIds());
    }

    void rename_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("storedName");   // in customNames; "<none>"
        QTest::addColumn<QString>("recordName");   // in the saved record; "<none>"
        QTest::newRow("named") << "/w/api" << "Backend" << "Backend" << "Backend" << "Backend";
        QTest::newRow("not trimmed") << "/w/api" << " B " << " B " << " B " << " B ";
        QTest::newRow("empty clears") << "/w/api" << "" << "api" << "<none>" << "<none>";
        QTest::newRow("unknown directory") << "" << "Solo" << "Solo" << "<none>" << "<none>";
    }
    void rename()
    {
        QFETCH(QString, directory);
        QFETCH(QString, name);
        QFETCH(QString, displayName);
        QFETCH(QString, storedName);
        QFETCH(QString, recordName);

        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("Stop"), 5, directory.isEmpty() ? std::nullopt : std::optional<QString>(directory));
        f.manager->updateCustomName(f.byPid(5).id, QStringLiteral("first"));
        f.manager->updateCustomName(f.byPid(5).id, name);

        QCOMPARE(f.byPid(5).displayName(), displayName);
        const QString path = f.byPid(5).projectPath;
        const auto names = decodeCustomNames(f.defaults->data(InstanceManager::customNamesKey).value_or("{}"));
        QCOMPARE(names->value(path, QStringLiteral("<none>")), storedName);
        const auto records = decodeSavedInstances(f.defaults->data(InstanceManager::savedInstancesKey).value_or("{}"));
        QCOMPARE(records->value(path).customName.value_or(QStringLiteral("<none>")), recordName);
    }

    void renameAll()
    {
        ManagerFixture f;
        makeThree(f);
        f.send(QStringLiteral("Stop"), 4, std::nullopt);
        f.manager->updateCustomName(f.byPid(4).id, QStringLiteral("Loose"));
        f.manager->updateCustomName(f.byPid(1).id, QStringLiteral("Ex"));

        f.manager->updateCustomNames({{QStringLiteral("/w/x"), QString()},
                                      {QStringLiteral("/w/y"), QStringLiteral("Why")},
                                      {QStringLiteral("Unknown"), QStringLiteral("U")}});
        QCOMPARE(f.manager->customNames(), CustomNames({{"/w/y", "Why"}, {"Unknown", "U"}}));
        QCOMPARE(f.byPid(1).displayName(), QStringLiteral("x"));
        QCOMPARE(f.byPid(2).displayName(), QStringLiteral("Why"));
        QCOMPARE(f.byPid(3).displayName(), QStringLiteral("z"));
        QCOMPARE(f.byPid(4).displayName(), QStringLiteral("Loose"));
        QCOMPARE(f.manager->savedInstanceData().value(QStringLiteral("/w/x")).customName, std::optional<QString>(QStringLiteral("Ex")));
    }

    void clearKeepsTheUnreadCount()
    {
        ManagerFixture f;
        makeThree(f);
        const QString id = f.byPid(2).id;
        f.manager->updateCustomName(id, QStringLiteral("Why"));
        f.console.clear();
        f.manager->clearActivityLog(id);
        f.manager->clearActivityLog(QStringLiteral("nobody"));
        QVERIFY(f.byPid(2).activityLog.isEmpty());
        QCOMPARE(f.byPid(2).unreadEventCount, 1);
        QCOMPARE(f.console.lines(), QStringList({"🗑️ Cleared activity log for instance Why"}));
        f.manager->markAsRead(id);
        QCOMPARE(f.byPid(2).unreadEventCount, 0);
    }

    void remove()
    {
        ManagerFixture f;
        makeThree(f);
        const QString id = f.byPid(2).id;
        QSignalSpy removed(f.manager.get(), &InstanceManager::instanceRemoved);
        f.manager->removeInstance(id);
        QCOMPARE(names(f), QStringList({"x", "z"}));
        QVERIFY(!f.manager->instanceOrder().contains(id));
        QVERIFY(!f.manager->savedInstanceData().contains(QStringLiteral("/w/y")));
        QCOMPARE(f.manager->customNames().value(QStringLiteral("/w/y")), QStringLiteral("y"));
        QCOMPARE(removed.size(), 1);

        // The directory's name comes back with its next instance.
        f.manager->updateCustomNames({{QStringLiteral("/w/y"), QStringLiteral("Why")}});
        f.send(QStringLiteral("Stop"), 8, QStringLiteral("/w/y"));
        QCOMPARE(f.byPid(8).displayName(), QStringLiteral("Why"));

        // An unknown id changes nothing but still writes the order.
        f.defaults->remove(InstanceManager::instanceOrderKey);
        f.manager->removeInstance(QStringLiteral("nobody"));
        QCOMPARE(removed.size(), 1);
        QVERIFY(f.defaults->data(InstanceManager::instanceOrderKey).has_value());
    }

    void connectionCheck()
    {
        ManagerFixture f;
        f.start();
        // The listener may already have created the pipe; without it nothing says "connected".
        f.manager->namedPipeListener()->stop();
        f.manager->checkConnection();
        QVERIFY(!f.manager->isConnected());

        QDir().mkpath(f.home.path() + QStringLiteral("/.tolvo"));
        QFile file(f.home.pipePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        f.manager->checkConnection();
        QVERIFY(f.manager->isConnected());
        file.remove();
        f.manager->checkConnection();
        QVERIFY(!f.manager->isConnected());

        f.send(QStringLiteral("Stop"), 1, QStringLiteral("/w/x"));
        f.manager->removeInstance(f.byPid(1).id);
        f.manager->checkConnection();
        QVERIFY(f.manager->isConnected()); // an event has been received
    }
};

QTEST_GUILESS_MAIN(TestListOperations)
#include "tst_listoperations.moc"
