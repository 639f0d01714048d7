#include "activitylogmodel.h"
#include "instancelistmodel.h"
#include "managerharness.h"
#include "rowtext.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QStringList rowIds(const InstanceListModel &model)
{
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids.append(model.index(row).data(InstanceListModel::InstanceIdRole).toString());
    return ids;
}

// The model under test, checked for consistency by Qt's model tester, with
// every kind of announcement a view can get counted.
struct Watched
{
    explicit Watched(InstanceManager &manager) : model(&manager) {}
    int structural() const
    {
        return inserted.size() + removed.size() + moved.size() + reset.size() + layout.size();
    }
    InstanceListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::QtTest};
    QSignalSpy changed{&model, &QAbstractItemModel::dataChanged};
    QSignalSpy inserted{&model, &QAbstractItemModel::rowsInserted};
    QSignalSpy removed{&model, &QAbstractItemModel::rowsRemoved};
    QSignalSpy moved{&model, &QAbstractItemModel::rowsMoved};
    QSignalSpy reset{&model, &QAbstractItemModel::modelReset};
    QSignalSpy layout{&model, &QAbstractItemModel::layoutChanged};
};

} // namespace

class TestInstanceListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void changeTouchesOneRow_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("statusLine");
        QTest::newRow("tool event") << u"event"_s << u"Working: Bash \u2192 make"_s;
        QTest::newRow("mark as read") << u"read"_s << u"Prompted: hello"_s;
        QTest::newRow("rename") << u"rename"_s << u"Prompted: hello"_s;
        QTest::newRow("clear log") << u"clear"_s << u"Working: Prompted"_s;
    }

    void changeTouchesOneRow()
    {
        QFETCH(QString, change);
        QFETCH(QString, statusLine);

        ManagerHarness h;
        const QStringList ids = h.start({u"/p/x"_s, u"/p/y"_s, u"/p/z"_s});
        Watched w(h.manager);
        if (change == u"event")
            h.send(102, u"PreToolUse"_s, u"Bash"_s, uR"({"command": "make"})"_s);
        else if (change == u"read")
            h.manager.markAsRead(ids.at(1));
        else if (change == u"rename")
            h.manager.updateCustomName(ids.at(1), u"Why"_s);
        else
            h.manager.clearActivityLog(ids.at(1));

        QCOMPARE(w.structural(), 0);
        QCOMPARE(w.changed.size(), 1);
        QCOMPARE(w.changed.at(0).at(0).value<QModelIndex>().row(), 1);
        QCOMPARE(w.changed.at(0).at(1).value<QModelIndex>().row(), 1);
        QCOMPARE(w.model.index(1).data(InstanceListModel::StatusLineRole).toString(), statusLine);
        QCOMPARE(w.model.index(1).data(InstanceListModel::StatusColorRole).value<QColor>(),
                 RowText::statusColor(StatusColor::yellow));
    }

    void addAndRemoveSingleRows()
    {
        ManagerHarness h;
        const QStringList ids = h.start({u"/p/x"_s, u"/p/y"_s});
        Watched w(h.manager);

        h.send(200, u"Stop"_s, {}, {}, u"/p/new"_s);
        QCOMPARE(w.inserted.size(), 1);
        QCOMPARE(w.inserted.at(0).at(1).toInt(), 2);
        QCOMPARE(w.model.count(), 3);

        h.manager.removeInstance(ids.at(0));
        QCOMPARE(w.removed.size(), 1);
        QCOMPARE(w.removed.at(0).at(1).toInt(), 0);
        QCOMPARE(w.removed.at(0).at(2).toInt(), 0);
        QCOMPARE(rowIds(w.model), h.displayOrder());
        QCOMPARE(w.structural(), 2);
    }

    void reorderMovesRows_data()
    {
        QTest::addColumn<QList<int>>("sources");
        QTest::addColumn<int>("destination");
        QTest::addColumn<int>("moves");
        QTest::newRow("first to the end") << QList<int>{0} << 5 << 1;
        QTest::newRow("last to the front") << QList<int>{4} << 0 << 1;
        QTest::newRow("one down by one") << QList<int>{1} << 3 << 1;
        QTest::newRow("two apart into the middle") << QList<int>{0, 4} << 2 << 2;
        QTest::newRow("in place") << QList<int>{2} << 2 << 0;
    }

    void reorderMovesRows()
    {
        QFETCH(QList<int>, sources);
        QFETCH(int, destination);
        QFETCH(int, moves);

        ManagerHarness h;
        const QStringList ids = h.start({u"/p/a"_s, u"/p/b"_s, u"/p/c"_s, u"/p/d"_s, u"/p/e"_s});
        Watched w(h.manager);
        // Views hold rows by persistent index; each must follow its instance.
        QList<QPersistentModelIndex> held;
        for (int row = 0; row < w.model.rowCount(); ++row)
            held.append(w.model.index(row));

        h.manager.moveInstances(QSet<int>(sources.begin(), sources.end()), destination);

        QCOMPARE(rowIds(w.model), h.displayOrder());
        QCOMPARE(w.moved.size(), moves);
        QCOMPARE(w.structural(), moves);
        for (int i = 0; i < held.size(); ++i)
            QCOMPARE(held.at(i).data(InstanceListModel::InstanceIdRole).toString(), ids.at(i));
    }

    void dragCommitsOneMove_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("committedTo");
        QTest::addColumn<QList<int>>("order"); // by start index

        QTest::newRow("first below the last") << 0 << 2 << 2 << QList<int>{1, 2, 0};
        QTest::newRow("last to the top") << 2 << 0 << 0 << QList<int>{2, 0, 1};
        QTest::newRow("middle down") << 1 << 2 << 2 << QList<int>{0, 2, 1};
        QTest::newRow("refused drop snaps back") << 0 << 2 << 7 << QList<int>{0, 1, 2};
    }

    void dragCommitsOneMove()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, committedTo);
        QFETCH(QList<int>, order);

        ManagerHarness h;
        const QStringList ids = h.start({u"/p/x"_s, u"/p/y"_s, u"/p/z"_s});
        Watched w(h.manager);
        // The view moves the row step by step while it is dragged.
        const int step = to > from ? 1 : -1;
        for (int row = from; row != to; row += step)
            w.model.moveRow(row, row + step);
        QCOMPARE(h.displayOrder(), ids); // the manager hears of the drop only

        w.model.commitMove(from, committedTo);
        QStringList expected;
        for (int i : order)
            expected.append(ids.at(i));
        QCOMPARE(h.displayOrder(), expected);
        QCOMPARE(rowIds(w.model), expected);
    }

    void activityLogPerInstance()
    {
        ManagerHarness h;
        const QStringList ids = h.start({u"/p/x"_s, u"/p/y"_s});
        InstanceListModel model(&h.manager);

        QPointer<QObject> log = model.activityLog(ids.at(0));
        QCOMPARE(qobject_cast<ActivityLogModel *>(log)->instanceId(), ids.at(0));
        QCOMPARE(model.activityLog(ids.at(0)), log.data());
        QCOMPARE(model.activityLog(u"NO-SUCH-ID"_s), nullptr);

        h.manager.removeInstance(ids.at(0));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!log);
    }
};

QTEST_MAIN(TestInstanceListModel)
#include "tst_instancelistmodel.moc"
