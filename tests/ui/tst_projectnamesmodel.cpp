#include "managerharness.h"
#include "projectnamesmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QStringList column(const ProjectNamesModel &model, int role)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row).data(role).toString());
    return values;
}

} // namespace

class TestProjectNamesModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsSortedByCodePoint_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("alpha before zeta")
            << QStringList{u"/p/zeta"_s, u"/p/alpha"_s} << QStringList{u"/p/alpha"_s, u"/p/zeta"_s};
        QTest::newRow("byte order") << QStringList{u"/p/a/b"_s, u"/p/B"_s, u"/p/a-b"_s, u"/p/a"_s}
                                    << QStringList{u"/p/B"_s, u"/p/a"_s, u"/p/a-b"_s, u"/p/a/b"_s};
        // U+1F600 is the surrogate pair D83D DE00, which sorts before U+FF5A by
        // UTF-16 units but after it by code point.
        QTest::newRow("beyond the basic plane")
            << QStringList{u"/p/\U0001F600"_s, u"/p/\uFF5A"_s, u"/p/\uD7FF"_s}
            << QStringList{u"/p/\uD7FF"_s, u"/p/\uFF5A"_s, u"/p/\U0001F600"_s};
    }

    void rowsSortedByCodePoint()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, expected);

        ManagerHarness h;
        CustomNames names;
        for (const QString &path : paths)
            names.insert(path, u"name of "_s + path);
        h.manager.updateCustomNames(names);
        ProjectNamesModel model(&h.manager);
        QCOMPARE(column(model, ProjectNamesModel::PathRole), expected);
        QCOMPARE(model.index(0).data(ProjectNamesModel::NameRole).toString(),
                 u"name of "_s + expected.at(0));
    }

    void editsApplyAndReset()
    {
        ManagerHarness h;
        ProjectNamesModel empty(&h.manager);
        QVERIFY(empty.isEmpty());
        QVERIFY(!empty.canApply());

        h.manager.updateCustomNames({{u"/p/a"_s, u"A"_s}, {u"/p/b"_s, u"B"_s}});
        ProjectNamesModel model(&h.manager);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(!model.canApply());

        model.setName(1, u"Bee"_s);
        QVERIFY(model.canApply());
        QCOMPARE(column(model, ProjectNamesModel::NameRole), (QStringList{u"A"_s, u"Bee"_s}));
        model.setName(1, u"B"_s); // typed back to what is stored
        QVERIFY(!model.canApply());

        model.setName(0, u"typed"_s);
        model.reset();
        QCOMPARE(column(model, ProjectNamesModel::NameRole), (QStringList{u"A"_s, u"B"_s}));

        model.clearName(0);
        model.apply();
        QCOMPARE(h.manager.customNames(), (CustomNames{{u"/p/b"_s, u"B"_s}}));
        QCOMPARE(column(model, ProjectNamesModel::PathRole), QStringList{u"/p/b"_s});
        QVERIFY(model.canApply()); // the emptied entry is still among the edits
    }

    void clearAllThenApplyEmptiesNames()
    {
        ManagerHarness h;
        h.manager.updateCustomNames({{u"/p/a"_s, u"A"_s}, {u"/p/b"_s, u"B"_s}});
        ProjectNamesModel model(&h.manager);
        QSignalSpy isEmptyChanged(&model, &ProjectNamesModel::isEmptyChanged);

        model.clearAll();
        QCOMPARE(column(model, ProjectNamesModel::NameRole), (QStringList{QString(), QString()}));
        QVERIFY(!h.manager.customNames().isEmpty());

        model.apply();
        QVERIFY(h.manager.customNames().isEmpty());
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(model.isEmpty());
        QCOMPARE(isEmptyChanged.size(), 1);
        QVERIFY(model.canApply());
    }

    void newProjectKeepsEdits()
    {
        ManagerHarness h;
        h.manager.updateCustomNames({{u"/p/b"_s, u"B"_s}});
        ProjectNamesModel model(&h.manager);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setName(0, u"typing"_s);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        h.send(300, u"Stop"_s, {}, {}, u"/p/a"_s); // stores the default name "a"
        QCOMPARE(reset.size(), 0);
        QCOMPARE(column(model, ProjectNamesModel::PathRole), (QStringList{u"/p/a"_s, u"/p/b"_s}));
        QCOMPARE(column(model, ProjectNamesModel::NameRole), (QStringList{u"a"_s, u"typing"_s}));
    }
};

QTEST_MAIN(TestProjectNamesModel)
#include "tst_projectnamesmodel.moc"
