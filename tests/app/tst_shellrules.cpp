// What the shell tells the desktop and scripts about the sessions: the tray's
// summary and the JSON of the status service, and how often it says so.
#include "busservice.h"
#include "defaultsstore.h"
#include "instancemanager.h"
#include "testsupport.h"
#include "traystatus.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// "working,waiting!,ready": one instance per word, "!" marks an exited one.
QList<ClaudeCodeInstance> instancesFrom(const QString &statuses)
{
    QList<ClaudeCodeInstance> instances;
    for (QString word : statuses.split(u',', Qt::SkipEmptyParts)) {
        ClaudeCodeInstance instance;
        instance.exited = word.endsWith(u'!');
        word.remove(u'!');
        instance.status = word == u"waiting"_s
                              ? InstanceStatus::waitingForInput
                              : *instanceStatusFromText(word.at(0).toUpper() + word.mid(1));
        instances.append(instance);
    }
    return instances;
}

ClaudeCodeInstance instance(const QString &id, qint64 pid, InstanceStatus status)
{
    ClaudeCodeInstance i =
        ClaudeCodeInstance::make(id, pid, u"/home/u/shop"_s, u"shop"_s, std::nullopt);
    i.status = status;
    return i;
}

} // namespace

class TestShellRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void trayStatus_data()
    {
        QTest::addColumn<QString>("statuses");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<StatusColor>("color");
        const StatusColor gray = StatusColor::gray, yellow = StatusColor::yellow,
                          red = StatusColor::red;
        QTest::newRow("no sessions") << "" << u"Tolvo — idle"_s << gray;
        QTest::newRow("none busy") << "ready,off,error" << u"Tolvo — idle"_s << gray;
        QTest::newRow("working") << "working,ready" << u"Tolvo — 1 working"_s << yellow;
        QTest::newRow("waiting only") << "waiting" << u"Tolvo — 1 waiting for input"_s << red;
        QTest::newRow("waiting outranks working")
            << "working,waiting,working" << u"Tolvo — 2 working, 1 waiting for input"_s << red;
        QTest::newRow("exited sessions count for nothing")
            << "waiting!,working!,working" << u"Tolvo — 1 working"_s << yellow;
    }

    void trayStatus()
    {
        QFETCH(QString, statuses);
        const TrayStatus::Counts counts = TrayStatus::count(instancesFrom(statuses));
        QTEST(TrayStatus::toolTip(counts), "toolTip");
        QTEST(TrayStatus::color(counts), "color");
    }

    void instancesJson_data()
    {
        QTest::addColumn<QList<ClaudeCodeInstance>>("instances");
        QTest::addColumn<QString>("json");

        ClaudeCodeInstance waiting = instance(u"A1"_s, 4242, InstanceStatus::waitingForInput);
        waiting.customName = u"Shop \"live\" ✓"_s;
        waiting.currentTool = u"Bash"_s;
        waiting.unreadEventCount = 3;
        ClaudeCodeInstance exited = instance(u"B2"_s, 77, InstanceStatus::ready);
        exited.exited = true;
        ClaudeCodeInstance placeholder = instance(u"C3"_s, -1, InstanceStatus::off);

        QTest::newRow("none") << QList<ClaudeCodeInstance>() << u"[]"_s;
        QTest::newRow("waiting for a tool")
            << QList{waiting}
            << u"[{\"currentTool\":\"Bash\",\"displayName\":\"Shop \\\"live\\\" "
               u"✓\",\"exited\":false,"
               u"\"id\":\"A1\",\"pid\":4242,\"projectPath\":\"/home/u/shop\","
               u"\"status\":\"Waiting for Input\",\"statusLine\":\"Waiting for Input: Bash\","
               u"\"unreadCount\":3}]"_s;
        QTest::newRow("no tool is null, order kept")
            << QList{exited, placeholder}
            << u"[{\"currentTool\":null,\"displayName\":\"shop\",\"exited\":true,\"id\":\"B2\","
               u"\"pid\":77,"
               u"\"projectPath\":\"/home/u/shop\",\"status\":\"Ready\",\"statusLine\":\"Ready\","
               u"\"unreadCount\":0},{\"currentTool\":null,\"displayName\":\"shop\",\"exited\":"
               u"false,"
               u"\"id\":\"C3\",\"pid\":-1,\"projectPath\":\"/home/u/shop\",\"status\":\"Off\","
               u"\"statusLine\":\"Waiting for events\",\"unreadCount\":0}]"_s;
    }

    void instancesJson()
    {
        QFETCH(QList<ClaudeCodeInstance>, instances);
        QTEST(::instancesJson(instances), "json");
    }

    // A burst of changes is one Changed() a tenth of a second later; a change
    // after that is another.
    void changesAreCoalesced()
    {
        TestHome home;
        ConsoleCapture console;
        DefaultsStore defaults(home.defaultsPath());
        RecordingNotifier notifier;
        InstanceManager manager(defaults, notifier);
        BusService service(manager, [](const QVariantMap &) {});
        QSignalSpy changed(&service, &BusService::changed);

        for (int i = 0; i < 5; ++i)
            Q_EMIT manager.instanceChanged(u"A1"_s);
        Q_EMIT manager.orderChanged();
        QTest::qWait(BusService::changeIntervalMs / 2);
        QCOMPARE(changed.size(), 0);
        QTRY_COMPARE(changed.size(), 1);
        QTest::qWait(BusService::changeIntervalMs * 2);
        QCOMPARE(changed.size(), 1);
        Q_EMIT manager.instanceRemoved(u"A1"_s);
        QTRY_COMPARE(changed.size(), 2);
    }
};

QTEST_MAIN(TestShellRules)
#include "tst_shellrules.moc"
