#include "instancelistmodel.h"
#include "managerharness.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

using Counts = QList<qsizetype>; // dataChanged, inserted, removed, moved

static QStringList rowIds(const InstanceListModel &model)
{
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids.append(model.index(row).data(InstanceListModel::InstanceIdRole).toString());
    return ids;
}

class TestInstanceListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void changesAreSingleRowOperations_data() // to instance b of a..e, or a move
    {
        QTest::addColumn<Counts>("counts");
        QTest::addColumn<int>("changedRow"); // the one row dataChanged may name
        QTest::newRow("event") << Counts{1, 0, 0, 0} << 1;
        QTest::newRow("add") << Counts{1, 1, 0, 0} << 5;
        QTest::newRow("remove") << Counts{0, 0, 1, 0} << -1;
        QTest::newRow("move two apart to the middle") << Counts{0, 0, 0, 2} << -1;
    }

    void changesAreSingleRowOperations()
    {
        const QString change = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(Counts, counts);
        QFETCH(int, changedRow);
        ManagerHarness h;
        const QStringList ids = h.start({u"/p/a"_s, u"/p/b"_s, u"/p/c"_s, u"/p/d"_s, u"/p/e"_s});
        InstanceListModel model(&h.manager);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
        QList<QPersistentModelIndex> held; // as views hold rows: each must stay with its instance
        for (int row = 0; row < model.rowCount(); ++row)
            held.append(model.index(row));
        const QPointer<QObject> log = model.activityLog(ids.at(1)); // kept until b goes
        QVERIFY(log && model.activityLog(ids.at(1)) == log && !model.activityLog(u"NO-ID"_s));

        if (change == u"event")
            h.send(102, {{"event", "PreToolUse"}, {"tool", "Bash"}, {"details", "make"}});
        else if (change == u"add")
            h.send(200, {{"event", "Stop"}, {"working_directory", "/p/new"}});
        else if (change == u"remove")
            h.manager.removeInstance(ids.at(1));
        else
            h.manager.moveInstances({0, 4}, 2);

        QCOMPARE(QList({changed.size(), inserted.size(), removed.size(), moved.size()}), counts);
        QCOMPARE(rowIds(model), h.ids());
        for (const QList<QVariant> &rows : std::as_const(changed))
            QCOMPARE(rows.mid(0, 2), QVariantList(2, QVariant::fromValue(model.index(changedRow))));
        for (int i = 0; i < held.size(); ++i) // a reset would invalidate them all
            QCOMPARE(held.at(i).data(InstanceListModel::InstanceIdRole).toString(),
                     change == u"remove" && i == 1 ? QString() : ids.at(i));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(log.isNull(), change == u"remove");
    }

    void dragCommitsOneMove()
    {
        ManagerHarness h;
        const QStringList xyz = h.start({u"/p/x"_s, u"/p/y"_s, u"/p/z"_s});
        InstanceListModel model(&h.manager);
        model.moveRow(0, 2);    // live feedback while dragging
        QCOMPARE(h.ids(), xyz); // the manager hears of the drop only
        model.commitMove(0, 2);
        QCOMPARE(h.ids(), (QStringList{xyz.at(1), xyz.at(2), xyz.at(0)}));
        model.moveRow(2, 0);
        model.commitMove(2, 0);
        QCOMPARE(h.ids(), xyz);
        model.moveRow(0, 2);
        model.commitMove(0, 7); // refused: the row snaps back
        QCOMPARE(rowIds(model), xyz);
    }
};

QTEST_MAIN(TestInstanceListModel)
#include "tst_instancelistmodel.moc"
