#include "managerfixture.h"

#include <QSettings>

class TestPersistence : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Values reach the file before the setter returns; types and defaults hold.
    void store()
    {
        TestHome home;
        {
            QSettings raw(home.defaultsPath(), QSettings::IniFormat);
            raw.setValue(QStringLiteral("text"), QStringLiteral("not bytes"));
            raw.setValue(NotificationKeys::taskComplete, false);
        }
        DefaultsStore store(home.defaultsPath());
        store.setData(QStringLiteral("k"), QByteArray("[\"A\"]"));
        DefaultsStore other(home.defaultsPath());
        QCOMPARE(other.data(QStringLiteral("k")), std::optional<QByteArray>("[\"A\"]"));
        QCOMPARE(store.data(QStringLiteral("text")), std::nullopt);
        QCOMPARE(store.boolValue(QStringLiteral("unset")), false);
        registerNotificationDefaults(store);
        QCOMPARE(store.boolValue(NotificationKeys::permissionRequired), true);
        QCOMPARE(store.boolValue(NotificationKeys::idle), false);
        QCOMPARE(store.boolValue(NotificationKeys::taskComplete), false); // the user's value wins
    }

    void savedRecords_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QString>("customName"); // of "/p"; "<absent>" for none

        QTest::newRow("with name") << QByteArray(R"({"/p":{"id":"A","customName":"N","projectPath":"/p","projectName":"p"}})") << true << "N";
        QTest::newRow("member missing") << QByteArray(R"({"/p":{"id":"A","projectPath":"/p","projectName":"p"}})") << true << "<absent>";
        QTest::newRow("member null") << QByteArray(R"({"/p":{"id":"A","customName":null,"projectPath":"/p","projectName":"p"}})") << true << "<absent>";
        QTest::newRow("extra member") << QByteArray(R"({"/p":{"id":"A","x":1,"projectPath":"/p","projectName":"p"}})") << true << "<absent>";
        QTest::newRow("one record without projectName")
            << QByteArray(R"({"/p":{"id":"A","projectPath":"/p","projectName":"p"},"/q":{"id":"B","projectPath":"/q"}})") << false << "";
        QTest::newRow("numeric name") << QByteArray(R"({"/p":{"id":"A","customName":5,"projectPath":"/p","projectName":"p"}})") << false << "";
        QTest::newRow("array") << QByteArray("[]") << false << "";
        QTest::newRow("not json") << QByteArray("{") << false << "";
    }
    void savedRecords()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QString, customName);
        const auto records = decodeSavedInstances(json);
        QCOMPARE(records.has_value(), decodes);
        if (!decodes)
            return;
        QCOMPARE(records->value(QStringLiteral("/p")).customName.value_or(QStringLiteral("<absent>")), customName);
        // Written back, an absent name is left out rather than written as null.
        QCOMPARE(encodeSavedInstances(*records).contains("customName"), customName != u"<absent>");
    }

    void firstLaunchIsSilent()
    {
        ManagerFixture f;
        f.start();
        QVERIFY(f.manager->instances().isEmpty() && f.console.lines().isEmpty());
    }

    // Stored order B, A with records for A and C: order becomes B, A, C and A shows before C.
    void restoreKeepsTheStoredOrder()
    {
        ManagerFixture f;
        f.defaults->setData(InstanceManager::instanceOrderKey, QByteArray(R"(["B","A"])"));
        f.defaults->setData(InstanceManager::savedInstancesKey, QByteArray(
            R"({"/c":{"id":"C","projectPath":"/c","projectName":"c"},
                "/a":{"id":"A","customName":"Alpha","projectPath":"/a","projectName":"a"}})"));
        f.defaults->setData(InstanceManager::customNamesKey, QByteArray(R"({"/a":"Alpha"})"));
        f.console.clear();

        InstanceManager &m = f.start();
        QCOMPARE(m.instanceOrder(), QStringList({"B", "A", "C"}));
        QCOMPARE(f.sortedIds(), QStringList({"A", "C"}));
        QCOMPARE(m.instance(QStringLiteral("A"))->displayName(), QStringLiteral("Alpha"));
        QVERIFY(m.instance(QStringLiteral("C"))->pid < 0);
        QCOMPARE(m.instance(QStringLiteral("C"))->status, InstanceStatus::off);
        QCOMPARE(f.console.lines(), QStringList({
            "📂 Loaded 1 custom project names",
            "📊 Loaded custom instance order with 2 items",
            "📂 Loaded 2 saved instances",
            "🔄 Restored 2 instances from saved data",
            "💾 Saved instance order",
        }));
        QCOMPARE(f.defaults->data(InstanceManager::instanceOrderKey), std::optional<QByteArray>(R"(["B","A","C"])"));
    }

    void unreadableRecordsFailAsAWhole()
    {
        ManagerFixture f;
        f.defaults->setData(InstanceManager::savedInstancesKey, QByteArray(
            R"({"/a":{"id":"A","projectPath":"/a","projectName":"a"},"/b":{"id":"B","projectPath":"/b"}})"));
        InstanceManager &m = f.start();
        QVERIFY(m.instances().isEmpty());

        f.send(QStringLiteral("UserPromptSubmit"), 42, QStringLiteral("/new"));
        const auto saved = decodeSavedInstances(*f.defaults->data(InstanceManager::savedInstancesKey));
        QCOMPARE(saved->keys(), QStringList({"/new"}));
    }

    void restartBringsBackNamesAndOrder()
    {
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("UserPromptSubmit"), 1, QStringLiteral("/w/one"));
        f.send(QStringLiteral("UserPromptSubmit"), 2, QStringLiteral("/w/two"));
        f.send(QStringLiteral("UserPromptSubmit"), 3, QStringLiteral("/w/three"));
        f.manager->moveInstances({2}, 0);
        f.manager->updateCustomName(f.byPid(2).id, QStringLiteral("Second"));
        f.manager->updateCustomName(f.byPid(1).id, QString()); // record written without a name
        const QStringList before = f.sortedIds();

        InstanceManager &m = f.restart();
        QCOMPARE(f.sortedIds(), before);
        QStringList names;
        for (const ClaudeCodeInstance &i : m.sortedInstances()) {
            names.append(i.displayName());
            QVERIFY(i.pid < 0);
        }
        QCOMPARE(names, QStringList({"three", "one", "Second"}));
    }

    // A name changed in the settings window does not reach the saved record.
    void renameAllLeavesRecordsAlone()
    {
        ManagerFixture f;
        f.start();
        f.send(QStringLiteral("Stop"), 5, QStringLiteral("/w/api"));
        f.manager->updateCustomNames({{QStringLiteral("/w/api"), QStringLiteral("API")}});
        QCOMPARE(f.byPid(5).displayName(), QStringLiteral("API"));

        InstanceManager &m = f.restart();
        QCOMPARE(m.instances().first().displayName(), QStringLiteral("api"));
        QCOMPARE(m.customNames().value(QStringLiteral("/w/api")), QStringLiteral("API"));
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "tst_persistence.moc"
