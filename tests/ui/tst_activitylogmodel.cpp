#include "activitylogmodel.h"
#include "instancelistmodel.h"
#include "managerharness.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString details(const ActivityLogModel &model, int row)
{
    return model.index(row).data(ActivityLogModel::DetailsTextRole).toString();
}

// Starts pid 101 with the prompt "hello", then prompts "entry 2" .. "entry <count>".
QString startWithEntries(ManagerHarness &h, int count)
{
    const QString id = h.start({u"/p/x"_s}).at(0);
    for (int i = 2; i <= count; ++i)
        h.send(101, u"UserPromptSubmit"_s, {}, u"entry %1"_s.arg(i));
    return id;
}

} // namespace

class TestActivityLogModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsNewestEntries_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("first");
        QTest::newRow("few") << 3 << 3 << u"hello"_s;
        QTest::newRow("300") << 300 << 250 << u"entry 51"_s;
    }

    void showsNewestEntries()
    {
        QFETCH(int, entries);
        QFETCH(int, rows);
        QFETCH(QString, first);

        ManagerHarness h;
        ActivityLogModel model(&h.manager, startWithEntries(h, entries));
        QCOMPARE(model.rowCount(), rows);
        QCOMPARE(details(model, 0), first);
        QCOMPARE(details(model, rows - 1), u"entry %1"_s.arg(entries));
    }

    void appendInsertsAtTheEnd_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("droppedFront");
        QTest::newRow("room left") << 3 << 0;
        QTest::newRow("full") << 250 << 1;
        QTest::newRow("over full") << 260 << 1;
    }

    void appendInsertsAtTheEnd()
    {
        QFETCH(int, entries);
        QFETCH(int, droppedFront);

        ManagerHarness h;
        ActivityLogModel model(&h.manager, startWithEntries(h, entries));
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        const int last = model.rowCount() - droppedFront;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        h.send(101, u"UserPromptSubmit"_s, {}, u"newest"_s);
        QCOMPARE(reset.size(), 0);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), last);
        QCOMPARE(inserted.at(0).at(2).toInt(), last);
        QCOMPARE(removed.size(), droppedFront);
        QCOMPARE(details(model, last), u"newest"_s);
        QCOMPARE(details(model, last - 1), u"entry %1"_s.arg(entries));

        h.manager.markAsRead(model.instanceId()); // no change to the log
        QCOMPARE(inserted.size() + removed.size(), 1 + droppedFront);
    }

    void clearRemovesAllRows()
    {
        ManagerHarness h;
        ActivityLogModel model(&h.manager, startWithEntries(h, 5));
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        h.manager.clearActivityLog(model.instanceId());
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(removed.size(), 1);

        h.send(101, u"PreCompact"_s);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(details(model, 0), u"Trigger: Compacting Context"_s);
        QVERIFY(model.index(0)
                    .data(ActivityLogModel::FormattedJSONRole)
                    .toString()
                    .contains(u"\"event\": \"PreCompact\""_s));
        QCOMPARE(reset.size(), 0);
    }

    void logIsNeverShared()
    {
        // A model holding a copy of the log would make every append copy it.
        ManagerHarness h;
        const QString id = startWithEntries(h, 20);
        InstanceListModel list(&h.manager);
        auto *log = qobject_cast<ActivityLogModel *>(list.activityLog(id));

        h.send(101, u"PreToolUse"_s, u"Bash"_s, uR"({"command": "ls"})"_s);
        for (QAbstractItemModel *model : std::initializer_list<QAbstractItemModel *>{&list, log}) {
            for (int row = 0; row < model->rowCount(); ++row) {
                for (int role : model->roleNames().keys())
                    model->index(row, 0).data(role);
            }
        }
        QVERIFY(h.manager.instance(id)->activityLog.isDetached());
    }
};

QTEST_MAIN(TestActivityLogModel)
#include "tst_activitylogmodel.moc"
