#include "appharness.h"
#include "defaultsstore.h"
#include "uibridge.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStyleHints>

using namespace Qt::StringLiterals;

namespace {

// Rows on screen, top to bottom.
QList<QQuickItem *> rows(QQuickWindow *window)
{
    QList<QQuickItem *> found = findItems(window->contentItem(), u"sessionRow"_s);
    found.removeIf([](QQuickItem *row) { return !row->isVisible(); });
    std::sort(found.begin(), found.end(), [](QQuickItem *a, QQuickItem *b) {
        return a->mapToScene({}).y() < b->mapToScene({}).y();
    });
    return found;
}

QStringList rowsOnScreen(QQuickWindow *window)
{
    QStringList names;
    for (QQuickItem *row : rows(window))
        names.append(row->property("displayName").toString());
    return names;
}

QQuickItem *rowNamed(QQuickWindow *window, const QString &name)
{
    QQuickItem *found = nullptr;
    (void)QTest::qWaitFor([&] {
        const int at = int(rowsOnScreen(window).indexOf(name));
        return (found = at < 0 ? nullptr : rows(window).at(at));
    });
    return found;
}

// The rows have faded in and none lies over the one above it.
bool settled(const QList<QQuickItem *> &shown)
{
    for (qsizetype i = 0; i < shown.size(); ++i)
        if (shown[i]->parentItem()->opacity() < 1 ||
            (i > 0 && shown[i]->mapToScene({}).y() <
                          shown[i - 1]->mapToScene({0, shown[i - 1]->height()}).y()))
            return false;
    return true;
}

// Opens a row with a click once the rows have settled, and waits until its
// log is open and the rows below it have moved out of the way.
QQuickItem *openRow(AppHarness &h, const QString &name)
{
    QQuickItem *row = rowNamed(h.window, name);
    if (!row || !QTest::qWaitFor([&] { return settled(rows(h.window)); }))
        return nullptr;
    AppHarness::click(h.find(u"statusLine"_s, row));
    return QTest::qWaitFor([&] {
        QQuickItem *log = findItem(row, u"logSection"_s);
        return log->height() > 0 && !log->property("opening").toBool() && settled(rows(h.window));
    })
               ? row
               : nullptr;
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
    // The view and the count follow the list, Remove Exited shows while a
    // process has gone; the pin and the list come back at the next start.
    void headerAcrossARestart()
    {
        AppHarness h;
        QVERIFY(h.start());
        const auto pinned = [&](bool on) {
            QCOMPARE(h.window->flags().testFlag(Qt::WindowStaysOnTopHint), on);
            QCOMPARE(h.app->defaults().boolValue(u"isPinnedToTop"_s), on);
            QCOMPARE(h.find(u"pinButton"_s)->property("pinned").toBool(), on);
        };
        QCOMPARE(shown(h), u"welcome 0 sessions"_s);
        h.send(1, u"UserPromptSubmit"_s, u"/w/shop"_s);
        QCOMPARE(shown(h), u"list 1 session"_s);
        h.send(2, u"UserPromptSubmit"_s, u"/w/api"_s);
        h.send(3, u"UserPromptSubmit"_s, u"/w/gone"_s);
        QCOMPARE(shown(h), u"list 3 sessions"_s);
        QQuickItem *removeExited = h.find(u"removeExitedButton"_s);
        QVERIFY(!removeExited->isVisible());
        h.sessions().markExited(2);
        QTRY_VERIFY(removeExited->isVisible());
        for (const QString &name : {u"api"_s, u"gone"_s}) {
            QQuickItem *row = rowNamed(h.window, name);
            QCOMPARE(h.find(u"exitedLabel"_s, row)->isVisible(), name == u"gone");
            QCOMPARE(h.find(u"statusLight"_s, row)->opacity() < 0.5, name == u"gone"); // dimmed
        }
        AppHarness::click(removeExited);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"shop"_s, u"api"_s}));
        QVERIFY(!removeExited->isVisible());
        AppHarness::click(h.find(u"pinButton"_s));
        pinned(true);

        QVERIFY(h.restart());
        pinned(true);
        QCOMPARE(shown(h), u"list 2 sessions"_s); // placeholders
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"shop"_s, u"api"_s}));
        h.sessions().remove(0);
        h.sessions().remove(0);
        QCOMPARE(shown(h), u"welcome 0 sessions"_s); // no event since the start
        h.send(4, u"Stop"_s, u"/w/x"_s);
        h.sessions().remove(0);
        QCOMPARE(shown(h), u"empty 0 sessions"_s);
        AppHarness::click(h.find(u"pinButton"_s));
        pinned(false);
    }

    // While events cannot arrive a line says why, until they can again.
    void bannerWhileEventsCannotArrive()
    {
        AppHarness h;
        QVERIFY(QFile(h.home.tolvoPath()).open(QIODevice::WriteOnly)); // where the folder goes
        QVERIFY(h.start());
        QQuickItem *text = h.find(u"bannerText"_s);
        QTRY_COMPARE(text->property("text").toString(),
                     u"Not receiving events: ~/.tolvo is not a folder"_s);
        QVERIFY(h.find(u"banner"_s)->isVisible());
        QVERIFY(QFile::remove(h.home.tolvoPath()));
        QTRY_VERIFY_WITH_TIMEOUT(!h.find(u"banner"_s)->isVisible(), 10000);
    }

    // An open row and JSON panel outlive the row's delegate and follow its
    // moves. (Row 0 is the view's current item, whose delegate always stays.)
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

        QQuickItem *list = h.find(u"sessionList"_s);
        QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, 100), Q_ARG(int, 0));
        QTRY_VERIFY(!rowsOnScreen(h.window).contains(u"s2"_s)); // its delegate is gone
        h.sessions().move(1, 3);
        QMetaObject::invokeMethod(list, "positionViewAtBeginning");
        QTRY_COMPARE(rowsOnScreen(h.window).mid(0, 4),
                     QStringList({u"s1"_s, u"s3"_s, u"s4"_s, u"s2"_s}));
        row = rowNamed(h.window, u"s2"_s);
        QVERIFY(row->property("isExpanded").toBool());
        QTRY_VERIFY(h.find(u"jsonText"_s, row));
        QCOMPARE(h.find(u"jsonButton"_s, row)->property("text").toString(), u"Hide"_s);
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

    // The row density setting; automatic: compact once comfortable rows would
    // not all fit. (What tolvo.ini's text reads as is tst_settings' part.)
    void rowDensity_data()
    {
        QTest::addColumn<QString>("density");
        QTest::addColumn<int>("count");
        QTest::addColumn<qreal>("height");
        QTest::addColumn<bool>("compact");
        QTest::newRow("auto, all fit") << u"auto"_s << 8 << 560.0 << false;
        QTest::newRow("auto, height not known yet") << u"auto"_s << 30 << 0.0 << false;
        QTest::newRow("auto, one too many") << u"auto"_s << 9 << 560.0 << true;
        QTest::newRow("comfortable scrolls") << u"comfortable"_s << 30 << 560.0 << false;
        QTest::newRow("compact with room") << u"compact"_s << 1 << 560.0 << true;
    }
    void rowDensity()
    {
        QFETCH(QString, density);
        QFETCH(int, count);
        QFETCH(qreal, height);
        QTEST(UiBridge::compactRows(density, count, height, 70), "compact");
    }

    // Thirty sessions arriving at once in the default window: at least 14
    // rows show whole, each with its light, name, status line and Go to
    // Terminal, none over another.
    void thirtySessions()
    {
        AppHarness h;
        QVERIFY(h.start());
        QCOMPARE(QSize(h.window->width(), h.window->height()), QSize(550, 650));
        for (int pid = 1; pid <= 30; ++pid)
            h.sessions().handle(Records::event(pid, u"Stop"_s, u"/w/s"_s + QString::number(pid)));
        QQuickItem *list = h.find(u"sessionList"_s);
        const QRectF viewport = list->mapRectToScene(QRectF(0, 0, list->width(), list->height()));
        QList<QQuickItem *> whole;
        QTRY_VERIFY_WITH_TIMEOUT(((whole = rows(h.window)).removeIf([&](QQuickItem *row) {
                                     return !viewport.contains(
                                         row->mapRectToScene(row->boundingRect()));
                                 }),
                                  settled(whole) && whole.size() >= 14),
                                 3000);
        for (QQuickItem *row : std::as_const(whole)) {
            for (const QString &part :
                 {u"statusLight"_s, u"title"_s, u"statusLine"_s, u"goToTerminalButton"_s}) {
                QQuickItem *item = h.find(part, row);
                QVERIFY(item->isVisible() &&
                        row->mapRectToScene(row->boundingRect())
                            .contains(item->mapRectToScene(item->boundingRect())));
            }
        }
    }

    void editingTheName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<Qt::Key>("finish"); // 0: a click on the row's header
        QTest::addColumn<QString>("shown");
        QTest::newRow("return commits") << u"Shop"_s << Qt::Key_Return << u"Shop"_s;
        QTest::newRow("escape cancels") << u"Shop"_s << Qt::Key_Escape << u"Old"_s;
        QTest::newRow("header click commits") << u"Shop"_s << Qt::Key(0) << u"Shop"_s;
        QTest::newRow("empty: the project's name") << QString() << Qt::Key_Return << u"x"_s;
    }
    void editingTheName()
    {
        QFETCH(QString, typed);
        QFETCH(Qt::Key, finish);
        QFETCH(QString, shown);
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, u"Stop"_s, u"/w/x"_s);
        h.sessions().rename(0, u"Old"_s);
        QQuickItem *row = rowNamed(h.window, u"Old"_s);

        // Hovering the title shows the Edit control.
        QQuickItem *edit = h.find(u"editControl"_s, row);
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
        if (finish)
            QTest::keyClick(h.window, finish);
        else
            AppHarness::click(h.find(u"rowHeader"_s, row), QPointF(row->width() - 40, 8));

        QTRY_VERIFY(!row->property("isEditingName").toBool());
        QVERIFY(!row->property("isExpanded").toBool()); // a header click only commits
        QCOMPARE(h.sessions().session(0).displayName(), shown);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({shown}));
    }

    // Opening reads the log; prompts, paths and JSON show as plain text;
    // Clear and Remove act on their own row.
    void openClearAndRemove()
    {
        AppHarness h;
        QVERIFY(h.start());
        const QString prompt = u"<b>bold</b><img src=\"http://127.0.0.1:1/x\">"_s;
        h.send(1, u"UserPromptSubmit"_s, u"/w/<i>x"_s, {}, prompt);
        h.send(2, u"Stop"_s, u"/w/y"_s);
        QQuickItem *row = openRow(h, u"<i>x"_s);
        QVERIFY(row);
        QCOMPARE(h.sessions().session(0).unreadEventCount, 0);
        QCOMPARE(h.find(u"statusLine"_s, row)->property("text").toString(),
                 u"Prompted: "_s + prompt.left(40) + u"..."_s);
        QQuickItem *button = h.find(u"jsonButton"_s, row);
        AppHarness::click(button);
        QQuickItem *json = nullptr;
        QTRY_VERIFY((json = h.find(u"jsonText"_s, row)));
        QVERIFY(json->property("text").toString().contains(u"\"event\": \"UserPromptSubmit\""_s));
        QVERIFY(!h.find(u"jsonScrollBar"_s, row)->isVisible()); // the record fits
        // The title, the status line, the log line's details and the JSON panel.
        int plain = 0;
        for (QQuickItem *item : findItems(row, QString())) {
            const QString text = item->property("text").toString();
            if (text.contains(u"<i>x"_s) || text.contains(u"<img src="_s)) {
                QCOMPARE(item->property("textFormat").toInt(), int(Qt::PlainText));
                ++plain;
            }
        }
        QCOMPARE(plain, 4);
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
        AppHarness::click(button);
        QTRY_VERIFY(!h.find(u"jsonText"_s, row));

        AppHarness::click(h.find(u"clearButton"_s, row));
        QVERIFY(h.sessions().session(0).activityLog.isEmpty());
        QTRY_COMPARE(findItems(row, u"logEntry"_s).size(), 0);
        AppHarness::click(h.find(u"removeButton"_s, row));
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({u"y"_s}));
    }

    // On the selected row, A allows, Shift+A always allows where the request suggests
    // something, D denies; with other modifiers, or nothing to answer, the keys do nothing.
    void answeringByKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("suggests");
        QTest::addColumn<QString>("answer"); // empty: none
        QTest::newRow("A") << int(Qt::Key_A) << int(Qt::NoModifier) << true << u"allow"_s;
        QTest::newRow("Shift+A") << int(Qt::Key_A) << int(Qt::ShiftModifier) << true << u"always"_s;
        QTest::newRow("Shift+A, nothing suggested")
            << int(Qt::Key_A) << int(Qt::ShiftModifier) << false << QString();
        QTest::newRow("D") << int(Qt::Key_D) << int(Qt::NoModifier) << false << u"deny"_s;
        QTest::newRow("Ctrl+D") << int(Qt::Key_D) << int(Qt::ControlModifier) << false << QString();
    }
    void answeringByKey()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, suggests);
        AppHarness h;
        QVERIFY(h.start());
        HookEvent event = Records::event(7, u"PermissionRequest"_s, u"/w/app"_s, u"Bash"_s,
                                         Records::toolInput({{"command", "rm x"}}));
        event.requestId = QString(32, u'a');
        event.helperPid = 9;
        if (suggests)
            event.permissionSuggestions = {
                QJsonObject{{u"type"_s, u"setMode"_s}, {u"mode"_s, u"acceptEdits"_s}}};
        h.sessions().handle(event);
        QSignalSpy answers(&h.app->bridge(), &UiBridge::answerRequested);
        QQuickItem *row = rowNamed(h.window, u"app"_s);
        QTRY_VERIFY(row && h.find(u"allowButton"_s, row)->isVisible());
        QCOMPARE(h.find(u"alwaysAllowButton"_s, row)->isVisible(), suggests);
        AppHarness::click(h.find(u"requestText"_s, row)); // selects the row
        QTest::keyClick(h.window, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QFETCH(QString, answer);
        QCOMPARE(answers.size(), answer.isEmpty() ? 0 : 1);
        if (!answer.isEmpty())
            QCOMPARE(answers.first(), QVariantList({event.requestId.value(), answer, QString()}));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
