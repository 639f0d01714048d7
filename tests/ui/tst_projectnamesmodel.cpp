#include "managerharness.h"
#include "projectnamesmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

static QStringList column(const ProjectNamesModel &model, int role = ProjectNamesModel::NameRole)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row).data(role).toString());
    return values;
}

class TestProjectNamesModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsSortedByCodePoint()
    {
        // U+1F600 is stored as D83D DE00: before U+FF5A by UTF-16 units, after it by code point.
        const QStringList sorted{u"/p/B"_s,    u"/p/a"_s,      u"/p/a-b"_s,       u"/p/a/b"_s,
                                 u"/p/zeta"_s, u"/p/\uFF5A"_s, u"/p/\U0001F600"_s};
        ManagerHarness h;
        h.start(sorted); // stores a name for each
        QCOMPARE(column(ProjectNamesModel(&h.manager), ProjectNamesModel::PathRole), sorted);
    }

    void namesChangeOnlyOnApply()
    {
        ManagerHarness h;
        QVERIFY(ProjectNamesModel(&h.manager).isEmpty());
        h.manager.updateCustomNames({{u"/p/a"_s, u"A"_s}, {u"/p/b"_s, u"B"_s}});
        ProjectNamesModel model(&h.manager);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy isEmptyChanged(&model, &ProjectNamesModel::isEmptyChanged);
        model.setName(1, u"Bee"_s);
        QVERIFY(model.canApply());
        model.setName(1, u"B"_s); // typed back to what is stored
        QVERIFY(!model.canApply());

        model.setName(0, u"typed"_s);
        h.send(300, {{"event", "Stop"}, {"working_directory", "/p/0"}}); // stores the name "0"
        QCOMPARE(column(model), (QStringList{u"0"_s, u"typed"_s, u"B"_s}));
        model.reset();
        QCOMPARE(column(model), (QStringList{u"0"_s, u"A"_s, u"B"_s}));

        model.clearName(1);
        model.apply();
        QCOMPARE(h.manager.customNames(), (CustomNames{{u"/p/0"_s, u"0"_s}, {u"/p/b"_s, u"B"_s}}));
        QVERIFY(model.canApply()); // the emptied entry is still among the edits

        model.clearAll();
        QCOMPARE(column(model), QStringList(2, QString()));
        QCOMPARE(h.manager.customNames().size(), 2); // nothing stored before Apply
        model.apply();
        QVERIFY(model.isEmpty() && model.rowCount() == 0 && model.canApply());
        QCOMPARE(isEmptyChanged.size(), 1);
        QCOMPARE(reset.size(), 0); // rows come and go one by one, so typing keeps its focus
    }
};

QTEST_MAIN(TestProjectNamesModel)
#include "tst_projectnamesmodel.moc"
