#include "appharness.h"
#include "defaultsstore.h"
#include "iconprovider.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStyleHints>

using namespace Qt::StringLiterals;

namespace {

QList<QQuickItem *> rowItems(QQuickWindow *window)
{
    return findItems(window->contentItem(), u"instanceRow"_s);
}

// Rows on screen, top to bottom by their place.
QList<QQuickItem *> visibleRows(QQuickWindow *window)
{
    QList<QQuickItem *> rows = rowItems(window);
    rows.removeIf([](QQuickItem *row) { return !row->isVisible(); });
    std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
        return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
    });
    return rows;
}

QStringList rowsOnScreen(QQuickWindow *window)
{
    QStringList names;
    for (QQuickItem *row : visibleRows(window))
        names.append(row->property("displayName").toString());
    return names;
}

QQuickItem *rowNamed(QQuickWindow *window, const QString &name, bool wait = true)
{
    QQuickItem *found = nullptr;
    const auto look = [&] {
        for (QQuickItem *row : rowItems(window))
            if (row->property("displayName").toString() == name)
                found = row;
        return found != nullptr;
    };
    if (wait)
        (void)QTest::qWaitFor(look);
    else
        look();
    return found;
}

// Opens a row with a click once the rows have faded in, and waits until its
// log is open and the rows below it have moved out of the way.
QQuickItem *openRow(AppHarness &h, const QString &name)
{
    QQuickItem *row = rowNamed(h.window, name);
    if (!QTest::qWaitFor([&] {
            const QList<QQuickItem *> rows = rowItems(h.window);
            return std::all_of(rows.cbegin(), rows.cend(),
                               [](QQuickItem *r) { return r->parentItem()->opacity() == 1; });
        }))
        return nullptr;
    AppHarness::click(h.find(u"statusLine"_s, row));
    const bool settled = QTest::qWaitFor([&] {
        QQuickItem *section = findItem(row, u"logSection"_s);
        if (section->height() == 0 || section->property("opening").toBool())
            return false;
        const QList<QQuickItem *> rows = visibleRows(h.window);
        for (qsizetype i = 1; i < rows.size(); ++i)
            if (rows[i]->mapToScene(QPointF()).y() <
                rows[i - 1]->mapToScene({0, rows[i - 1]->height()}).y())
                return false;
        return true;
    });
    return settled ? row : nullptr;
}

// "<welcome|empty|list> <subtitle>"
QString shown(AppHarness &h)
{
    static const char *views[] = {"welcome", "empty", "list"};
    return QString::fromLatin1(views[h.find(u"content"_s)->property("currentIndex").toInt()]) +
           u' ' + h.find(u"subtitle"_s)->property("text").toString();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentFollowsTheList()
    {
        AppHarness h;
        QVERIFY(h.start());
        QCOMPARE(shown(h), u"welcome 0 instances"_s);
        h.send(1, u"UserPromptSubmit"_s, u"/w/shop"_s);
        QCOMPARE(shown(h), u"list 1 instance"_s);
        h.send(2, u"UserPromptSubmit"_s, u"/w/api"_s);
        QCOMPARE(shown(h), u"list 2 instances"_s);
        QVERIFY(h.restart()); // placeholders for both
        QCOMPARE(shown(h), u"list 2 instances"_s);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"shop"_s, u"api"_s}));
        h.sessions().remove(0);
        h.sessions().remove(0);
        QCOMPARE(shown(h), u"welcome 0 instances"_s); // no event since the start
        h.send(3, u"Stop"_s, u"/w/x"_s);
        h.sessions().remove(0);
        QCOMPARE(shown(h), u"empty 0 instances"_s);
    }

    void pinIsStoredAndAppliedAtStart()
    {
        AppHarness h;
        QVERIFY(h.start());
        const auto check = [&](bool pinned) {
            QCOMPARE(h.window->flags().testFlag(Qt::WindowStaysOnTopHint), pinned);
            QCOMPARE(h.app->defaults().boolValue(u"isPinnedToTop"_s), pinned);
            QCOMPARE(h.find(u"pinButton"_s)->property("pinned").toBool(), pinned);
        };
        AppHarness::click(h.find(u"pinButton"_s));
        check(true);
        QVERIFY(h.restart());
        check(true);
        AppHarness::click(h.find(u"pinButton"_s));
        check(false);
    }

    // An open row and an open JSON panel are the list's state, not the
    // delegate's: they outlive the delegate and follow the row when it moves.
    // (Row 0 is the view's current item, whose delegate is never let go.)
    void viewStateOutlivesTheDelegate()
    {
        AppHarness h;
        QVERIFY(h.start());
        QAbstractItemModelTester tester(&h.sessions(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int pid = 1; pid <= 120; ++pid)
            h.send(pid, u"UserPromptSubmit"_s, u"/w/s"_s + QString::number(pid), {}, u"go"_s);
        QQuickItem *row = openRow(h, u"s2"_s);
        QVERIFY(row);
        AppHarness::click(h.find(u"jsonButton"_s, row));
        QTRY_VERIFY(h.find(u"jsonText"_s, row));

        QQuickItem *list = h.find(u"instanceList"_s);
        QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, 100), Q_ARG(int, 0));
        QTRY_VERIFY(!rowNamed(h.window, u"s2"_s, false)); // its delegate is gone
        h.sessions().move(1, 3);
        QMetaObject::invokeMethod(list, "positionViewAtBeginning");
        QTRY_COMPARE(rowsOnScreen(h.window).mid(0, 4),
                     QStringList({u"s1"_s, u"s3"_s, u"s4"_s, u"s2"_s}));
        row = rowNamed(h.window, u"s2"_s);
        QVERIFY(row->property("isExpanded").toBool());
        QTRY_VERIFY(h.find(u"jsonText"_s, row));
        QCOMPARE(h.find(u"jsonButton"_s, row)->property("text").toString(), u"Hide"_s);
        QVERIFY(!rowNamed(h.window, u"s3"_s)->property("isExpanded").toBool());
    }

    // The rows move in the list as the dragged row passes over them, and
    // the order is kept for the next start.
    void draggingTheFirstRowBelowTheLast()
    {
        AppHarness h;
        QVERIFY(h.start());
        for (int pid = 1; pid <= 3; ++pid)
            h.send(pid, u"Stop"_s, u"/w/"_s + QChar(u'w' + pid));
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"x"_s, u"y"_s, u"z"_s}));
        QSignalSpy moved(&h.sessions(), &QAbstractItemModel::rowsMoved);

        QQuickItem *first = rowNamed(h.window, u"x"_s);
        QQuickItem *last = rowNamed(h.window, u"z"_s);
        QPoint at = first->mapToScene(QPointF(first->width() / 2, 20)).toPoint();
        const int below = last->mapToScene(QPointF(0, last->height() - 4)).toPoint().y();
        QTest::mousePress(h.window, Qt::LeftButton, Qt::NoModifier, at);
        while (at.y() < below) {
            at.ry() += 8;
            QTest::mouseMove(h.window, at, 5);
        }
        QCOMPARE(moved.size(), 2); // live, one row at a time
        QTest::mouseRelease(h.window, Qt::LeftButton, Qt::NoModifier, at);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"y"_s, u"z"_s, u"x"_s}));
        QVERIFY(!first->property("isExpanded").toBool()); // the drag opened nothing
        QVERIFY(h.restart());
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"y"_s, u"z"_s, u"x"_s}));
    }

    void openClearAndRemove()
    {
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, u"UserPromptSubmit"_s, u"/w/x"_s, {}, u"go"_s);
        h.send(1, u"Stop"_s, u"/w/x"_s);
        h.send(2, u"Stop"_s, u"/w/y"_s);
        QQuickItem *row = openRow(h, u"x"_s);
        QVERIFY(row);
        QCOMPARE(h.sessions().session(0).unreadEventCount, 0); // opening reads
        QTRY_COMPARE(findItems(row, u"logEntry"_s).size(), 2);

        AppHarness::click(h.find(u"clearButton"_s, row));
        QVERIFY(h.sessions().session(0).activityLog.isEmpty());
        QTRY_COMPARE(findItems(row, u"logEntry"_s).size(), 0);
        AppHarness::click(h.find(u"removeButton"_s, row));
        QCOMPARE(h.sessions().count(), 1);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"y"_s}));
    }

    void editingTheName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<QString>("shown");
        QTest::newRow("return commits") << u"Shop"_s << u"return"_s << u"Shop"_s;
        QTest::newRow("escape cancels") << u"Shop"_s << u"escape"_s << u"Old"_s;
        QTest::newRow("header click commits") << u"Shop"_s << u"header"_s << u"Shop"_s;
        QTest::newRow("empty: the project's name") << QString() << u"return"_s << u"x"_s;
    }
    void editingTheName()
    {
        QFETCH(QString, typed);
        QFETCH(QString, finish);
        QFETCH(QString, shown);
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, u"Stop"_s, u"/w/x"_s);
        h.sessions().rename(0, u"Old"_s);
        QQuickItem *row = rowNamed(h.window, u"Old"_s);

        // Hovering the title shows the Edit control.
        QQuickItem *edit = h.find(u"editControl"_s, row);
        QCOMPARE(edit->opacity(), 0.0);
        QTest::mouseMove(h.window, h.find(u"title"_s, row)->mapToScene(QPointF(4, 4)).toPoint());
        QTRY_COMPARE(edit->opacity(), 1.0);
        AppHarness::click(edit);
        QQuickItem *field = nullptr;
        QTRY_VERIFY((field = h.find(u"nameField"_s, row)) && field->hasActiveFocus());
        QCOMPARE(field->property("text").toString(), u"Old"_s);

        QTest::keySequence(h.window, QKeySequence::SelectAll);
        QTest::keyClick(h.window, Qt::Key_Backspace);
        for (QChar c : typed)
            QTest::keyClick(h.window, c.toLatin1());
        if (finish == u"return")
            QTest::keyClick(h.window, Qt::Key_Return);
        else if (finish == u"escape")
            QTest::keyClick(h.window, Qt::Key_Escape);
        else
            AppHarness::click(h.find(u"rowHeader"_s, row), QPointF(row->width() - 40, 8));

        QTRY_VERIFY(!row->property("isEditingName").toBool());
        QVERIFY(!row->property("isExpanded").toBool()); // a header click only commits
        QCOMPARE(h.sessions().session(0).displayName(), shown);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({shown}));
    }

    // Prompts, paths and JSON show as the text they are, never as markup.
    void untrustedTextAndTheJsonPanel()
    {
        AppHarness h;
        QVERIFY(h.start());
        const QString prompt = u"<b>bold</b><img src=\"http://127.0.0.1:1/x\">"_s;
        h.send(1, u"UserPromptSubmit"_s, u"/w/<i>x"_s, {}, prompt);
        QQuickItem *row = openRow(h, u"<i>x"_s);
        QVERIFY(row);
        QCOMPARE(h.find(u"statusLine"_s, row)->property("text").toString(),
                 u"Prompted: "_s + prompt.left(40) + u"..."_s);

        QQuickItem *button = h.find(u"jsonButton"_s, row);
        AppHarness::click(button);
        QQuickItem *json = nullptr;
        QTRY_VERIFY((json = h.find(u"jsonText"_s, row)));
        QVERIFY(json->property("text").toString().contains(u"\"event\": \"UserPromptSubmit\""_s));

        // The title, the status line, the log line's details and the JSON panel.
        int plain = 0;
        for (QQuickItem *item : findItems(row, QString())) {
            const QString text = item->property("text").toString();
            if (!text.contains(u"<i>x"_s) && !text.contains(u"<img src="_s))
                continue;
            QCOMPARE(item->property("textFormat").toInt(), int(Qt::PlainText));
            ++plain;
        }
        QCOMPARE(plain, 4);

        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
        AppHarness::click(button);
        QTRY_VERIFY(!h.find(u"jsonText"_s, row));
    }

    void exitedRowsAndRemoveExited()
    {
        AppHarness h;
        QVERIFY(h.start());
        for (int pid = 1; pid <= 3; ++pid)
            h.send(pid, u"UserPromptSubmit"_s, u"/w/"_s + QChar(u'w' + pid));
        QQuickItem *button = h.find(u"removeExitedButton"_s);
        QVERIFY(!button->isVisible());
        h.sessions().markExited(0);
        h.sessions().markExited(2);
        QTRY_VERIFY(button->isVisible());
        for (const QString &name : {u"x"_s, u"y"_s, u"z"_s}) {
            QQuickItem *row = rowNamed(h.window, name);
            const bool exited = name != u"y";
            QCOMPARE(h.find(u"exitedLabel"_s, row)->isVisible(), exited);
            QCOMPARE(h.find(u"statusLight"_s, row)->opacity() < 0.5, exited); // dimmed
        }
        AppHarness::click(button);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"y"_s}));
        QVERIFY(!button->isVisible());
    }

    // The header's symbols: what follows "image://icon/" in a source.
    void icons_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QColor>("disc"); // invalid: no image
        QTest::newRow("argb, %23")
            << u"xmark-circle-fill?color=%2380ff0000"_s << QColor(255, 0, 0, 128);
        QTest::newRow("no colour: black") << u"xmark-circle-fill"_s << QColor(Qt::black);
        QTest::newRow("unknown") << u"kettle?color=#ff0000"_s << QColor();
        QTest::newRow("outside the symbols") << u"../TolvoLogo?color=#ff0000"_s << QColor();
    }
    void icons()
    {
        QFETCH(QString, id);
        QFETCH(QColor, disc);
        if (!disc.isValid())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"no symbol named"_s));
        const QImage image = TintedIconProvider().requestImage(id, nullptr, {48, 0});
        QCOMPARE(image.isNull(), !disc.isValid());
        if (disc.isValid())
            QCOMPARE(image.pixelColor(24, 8), disc); // (12, 4) of the 24-unit grid
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
