#include "activitylogmodel.h"
#include "instancelistmodel.h"
#include "managerharness.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestActivityLogModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsFollowTheLog_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("first");
        QTest::newRow("few") << 3 << u"hello"_s;
        QTest::newRow("300: the newest 250") << 300 << u"entry 51"_s;
    }

    void rowsFollowTheLog()
    {
        QFETCH(int, entries);
        QFETCH(QString, first);
        ManagerHarness h;
        const QString id = h.start({u"/p/x"_s}).at(0); // "hello" is entry 1
        for (int i = 2; i <= entries; ++i)
            h.send(101, {{"event", "UserPromptSubmit"}, {"details", u"entry %1"_s.arg(i)}});
        InstanceListModel list(&h.manager); // hands out the log models
        auto &log = *qobject_cast<ActivityLogModel *>(list.activityLog(id));
        QAbstractItemModelTester tester(&log,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&log, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&log, &QAbstractItemModel::modelReset);
        const auto details = [&](int row) {
            return log.index(row).data(ActivityLogModel::DetailsTextRole).toString();
        };
        QCOMPARE(log.rowCount(), std::min(entries, 250));
        QCOMPARE(details(0), first);

        h.send(101, {{"event", "UserPromptSubmit"}, {"details", "newest"}});
        h.manager.markAsRead(id); // changes nothing in the log
        QCOMPARE(log.rowCount(), std::min(entries + 1, 250));
        QCOMPARE(details(log.rowCount() - 2), u"entry %1"_s.arg(entries));
        QCOMPARE(details(log.rowCount() - 1), u"newest"_s);
        QCOMPARE(QList({inserted.size(), removed.size()}), QList<qsizetype>({1, entries >= 250}));
        // Holding a copy of the log would make every append copy all of it.
        QVERIFY(h.manager.instance(id)->activityLog.isDetached());

        h.manager.clearActivityLog(id);
        h.send(101, {{"event", "PreCompact"}});
        QCOMPARE(details(0), u"Trigger: Compacting Context"_s);
        QVERIFY(log.index(0)
                    .data(ActivityLogModel::FormattedJSONRole)
                    .toString()
                    .contains(u"\"event\": \"PreCompact\""_s));
        QCOMPARE(removed.size(), (entries >= 250) + 1);
        QCOMPARE(reset.size(), 0);
    }
};

QTEST_MAIN(TestActivityLogModel)
#include "tst_activitylogmodel.moc"
