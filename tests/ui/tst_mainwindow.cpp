#include "appharness.h"

#include "defaultsstore.h"

#include <QAbstractItemModel>
#include <QProcess>
#include <QSignalSpy>
#include <QStyleHints>

namespace {

// Rows as the user sees them: top to bottom by their position on screen.
QStringList rowsOnScreen(QQuickWindow *window)
{
    QList<QQuickItem *> rows = findItems(window->contentItem(), QStringLiteral("instanceRow"));
    rows.removeIf([](QQuickItem *row) { return !row->isVisible(); });
    std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
        return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
    });
    QStringList names;
    for (QQuickItem *row : rows)
        names.append(row->property("displayName").toString());
    return names;
}

QQuickItem *rowNamed(QQuickWindow *window, const QString &name)
{
    QQuickItem *found = nullptr;
    (void)QTest::qWaitFor([&] {
        for (QQuickItem *row : findItems(window->contentItem(), QStringLiteral("instanceRow")))
            if (row->property("displayName").toString() == name)
                found = row;
        return found != nullptr;
    });
    return found;
}

// Opens the row and waits until its log has finished opening.
QQuickItem *openRow(QQuickWindow *window, const QString &name)
{
    QQuickItem *row = rowNamed(window, name);
    if (!row)
        return nullptr;
    QMetaObject::invokeMethod(row, "toggleExpanded");
    const bool open = QTest::qWaitFor([&] {
        QQuickItem *section = findItem(row, QStringLiteral("logSection"));
        return section && section->height() > 0 && !section->property("opening").toBool();
    });
    return open ? row : nullptr;
}

// "<welcome|empty|list> <subtitle>"
QString shown(AppHarness &h)
{
    static const char *views[] = {"welcome", "empty", "list"};
    return QString::fromLatin1(views[h.find(QStringLiteral("content"))->property("currentIndex").toInt()])
           + u' ' + h.find(QStringLiteral("subtitle"))->property("text").toString();
}

// The pid of a child that has been started, killed and reaped.
qint64 goneProcessId()
{
    QProcess child;
    child.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    child.waitForStarted();
    const qint64 pid = child.processId();
    child.kill();
    child.waitForFinished();
    return pid;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentFollowsTheInstances()
    {
        AppHarness h;
        QVERIFY(h.start());
        QCOMPARE(shown(h), QStringLiteral("welcome 0 instances"));
        h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/shop"));
        QCOMPARE(shown(h), QStringLiteral("list 1 instance"));
        h.send(2, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/api"));
        QCOMPARE(shown(h), QStringLiteral("list 2 instances"));
        h.manager().removeInstance(h.idOf(1));
        h.manager().removeInstance(h.idOf(2));
        QCOMPARE(shown(h), QStringLiteral("empty 0 instances"));
    }

    void restoredPlaceholderShowsTheList()
    {
        AppHarness h;
        DefaultsStore().setData(InstanceManager::savedInstancesKey,
                                "{\"/w/a\":{\"id\":\"A\",\"projectPath\":\"/w/a\",\"projectName\":\"a\"}}");
        QVERIFY(h.start());
        QCOMPARE(shown(h), QStringLiteral("list 1 instance"));
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"a"}));
        // Removing the last placeholder before any event brings the welcome back.
        h.manager().removeInstance(QStringLiteral("A"));
        QCOMPARE(shown(h), QStringLiteral("welcome 0 instances"));
    }

    void pinTogglesPersistsAndFloats()
    {
        AppHarness h;
        QVERIFY(h.start());
        auto *pin = h.find(QStringLiteral("pinButton"));
        for (bool pinned : {true, false}) {
            QMetaObject::invokeMethod(pin, "clicked");
            QCOMPARE(h.window->flags().testFlag(Qt::WindowStaysOnTopHint), pinned);
            QCOMPARE(h.app.defaults().boolValue(QStringLiteral("isPinnedToTop")), pinned);
            QCOMPARE(pin->property("pinned").toBool(), pinned);
        }
    }

    void pinIsAppliedAtStart()
    {
        AppHarness h;
        DefaultsStore().setBool(QStringLiteral("isPinnedToTop"), true);
        QVERIFY(h.start());
        QVERIFY(h.window->flags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void draggingTheFirstRowBelowTheLast()
    {
        AppHarness h;
        QVERIFY(h.start());
        for (int pid = 1; pid <= 3; ++pid)
            h.send(pid, QStringLiteral("Stop"), QStringLiteral("/w/") + QChar(u'w' + pid));
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"x", "y", "z"}));
        QSignalSpy order(&h.manager(), &InstanceManager::orderChanged);

        QQuickItem *first = rowNamed(h.window, QStringLiteral("x"));
        QQuickItem *last = rowNamed(h.window, QStringLiteral("z"));
        QPoint at = first->mapToScene(QPointF(first->width() / 2, 20)).toPoint();
        const int below = last->mapToScene(QPointF(0, last->height() - 4)).toPoint().y();
        QTest::mousePress(h.window, Qt::LeftButton, Qt::NoModifier, at);
        while (at.y() < below) {
            at.ry() += 8;
            QTest::mouseMove(h.window, at, 5);
        }
        QTest::mouseRelease(h.window, Qt::LeftButton, Qt::NoModifier, at);

        QTRY_COMPARE(order.size(), 1);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"y", "z", "x"}));
        QCOMPARE(h.manager().sortedInstances().last().projectName, QStringLiteral("x"));
        QCOMPARE(first->property("isExpanded").toBool(), false); // the drag opened nothing
    }

    void openClearAndRemove()
    {
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/x"), {}, QStringLiteral("go"));
        h.send(1, QStringLiteral("Stop"), QStringLiteral("/w/x"));
        h.send(2, QStringLiteral("Stop"), QStringLiteral("/w/y"));
        QQuickItem *row = rowNamed(h.window, QStringLiteral("x"));
        AppHarness::click(h.find(QStringLiteral("statusLine"), row));
        QVERIFY(row->property("isExpanded").toBool());
        QCOMPARE(h.manager().instance(h.idOf(1))->unreadEventCount, 0); // opening reads
        QTRY_COMPARE(findItems(row, QStringLiteral("logEntry")).size(), 2);
        QTRY_VERIFY(!h.find(QStringLiteral("logSection"), row)->property("opening").toBool());

        AppHarness::click(h.find(QStringLiteral("clearButton"), row));
        QVERIFY(h.manager().instance(h.idOf(1))->activityLog.isEmpty());
        QTRY_COMPARE(findItems(row, QStringLiteral("logEntry")).size(), 0);
        AppHarness::click(h.find(QStringLiteral("removeButton"), row));
        QCOMPARE(h.manager().instanceCount(), 1);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"y"}));
    }

    void editingTheName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("finish");
        QTest::addColumn<QString>("shown");
        QTest::newRow("return commits") << "Shop" << "return" << "Shop";
        QTest::newRow("escape cancels") << "Shop" << "escape" << "x";
        QTest::newRow("header click commits") << "Shop" << "header" << "Shop";
        QTest::newRow("empty clears") << "" << "return" << "x";
    }
    void editingTheName()
    {
        QFETCH(QString, typed);
        QFETCH(QString, finish);
        QFETCH(QString, shown);
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, QStringLiteral("Stop"), QStringLiteral("/w/x"));
        QQuickItem *row = rowNamed(h.window, QStringLiteral("x"));

        // Hovering the title shows the Edit control.
        QQuickItem *edit = h.find(QStringLiteral("editControl"), row);
        QCOMPARE(edit->opacity(), 0.0);
        QTest::mouseMove(h.window, h.find(QStringLiteral("title"), row)->mapToScene(QPointF(4, 4)).toPoint());
        QTRY_COMPARE(edit->opacity(), 1.0);
        AppHarness::click(edit);
        QQuickItem *field = nullptr;
        QTRY_VERIFY((field = h.find(QStringLiteral("nameField"), row)) && field->hasActiveFocus());
        QCOMPARE(field->property("text").toString(), QStringLiteral("x"));

        QTest::keySequence(h.window, QKeySequence::SelectAll);
        QTest::keyClick(h.window, Qt::Key_Backspace);
        for (QChar c : typed)
            QTest::keyClick(h.window, c.toLatin1());
        if (finish == u"return")
            QTest::keyClick(h.window, Qt::Key_Return);
        else if (finish == u"escape")
            QTest::keyClick(h.window, Qt::Key_Escape);
        else
            AppHarness::click(h.find(QStringLiteral("rowHeader"), row), QPointF(row->width() - 40, 8));

        QTRY_VERIFY(!row->property("isEditingName").toBool());
        QCOMPARE(row->property("isExpanded").toBool(), false); // a header click only commits
        QCOMPARE(h.manager().instances().first().displayName(), shown);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({shown}));
    }

    // Prompts, paths and JSON show as the text they are, never as markup.
    void untrustedTextAndTheJsonPanel()
    {
        AppHarness h;
        QVERIFY(h.start());
        const QString prompt = QStringLiteral("<b>bold</b><img src=\"http://127.0.0.1:1/x\">");
        h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/<i>x"), {}, prompt);
        QQuickItem *row = openRow(h.window, QStringLiteral("<i>x"));
        QVERIFY(row);
        QCOMPARE(h.find(QStringLiteral("statusLine"), row)->property("text").toString(),
                 QStringLiteral("Prompted: ") + prompt.left(40) + QStringLiteral("..."));

        QQuickItem *button = h.find(QStringLiteral("jsonButton"), row);
        AppHarness::click(button);
        QCOMPARE(button->property("text").toString(), QStringLiteral("Hide"));
        QQuickItem *json = nullptr;
        QTRY_VERIFY((json = h.find(QStringLiteral("jsonText"), row)));
        QVERIFY(json->property("text").toString().contains(QStringLiteral("\"event\": \"UserPromptSubmit\"")));

        // The title, the status line, the log line's details and the JSON panel.
        int plain = 0;
        for (QQuickItem *item : findItems(row, QString())) {
            const QString text = item->property("text").toString();
            if (!text.contains(QStringLiteral("<i>x")) && !text.contains(QStringLiteral("<img src=")))
                continue;
            QCOMPARE(item->property("textFormat").toInt(), int(Qt::PlainText));
            ++plain;
        }
        QCOMPARE(plain, 4);

        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
        AppHarness::click(button);
        QTRY_VERIFY(!h.find(QStringLiteral("jsonText"), row));
    }

    void exitedRowsAndRemoveExited()
    {
        AppHarness h;
        QVERIFY(h.start());
        const qint64 pids[] = {goneProcessId(), QCoreApplication::applicationPid(), goneProcessId()};
        for (int i = 0; i < 3; ++i)
            h.send(pids[i], QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/") + QChar(u'x' + i));
        QQuickItem *button = h.find(QStringLiteral("removeExitedButton"));
        QVERIFY(!button->isVisible());

        h.manager().checkConnection();
        QTRY_VERIFY(button->isVisible());
        QCOMPARE(button->property("text").toString(), QStringLiteral("Remove Exited"));
        for (const QString name : {"x", "y", "z"}) {
            QQuickItem *row = rowNamed(h.window, name);
            const bool exited = name != u"y";
            QQuickItem *label = h.find(QStringLiteral("exitedLabel"), row);
            QVERIFY2(label->isVisible() == exited && label->property("text").toString() == u"Exited", qPrintable(name));
            QQuickItem *light = h.find(QStringLiteral("statusLight"), row);
            QVERIFY2((light->opacity() < 0.5) == exited, qPrintable(name)); // dimmed, not pulsing
        }

        AppHarness::click(button);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"y"}));
        QVERIFY(!button->isVisible());
    }

    void logShowsTheNewest250()
    {
        AppHarness h;
        QVERIFY(h.start());
        for (int n = 1; n <= 300; ++n)
            h.manager().handleHookEvent({QStringLiteral("UserPromptSubmit"), 1, {}, QString::number(n), QStringLiteral("/w/x")}, {});
        QCoreApplication::processEvents();
        QQuickItem *row = openRow(h.window, QStringLiteral("x"));
        QVERIFY(row);
        const auto *model = h.find(QStringLiteral("activityLog"), row)->property("model").value<QAbstractItemModel *>();
        QCOMPARE(model->rowCount(), 250);
        const int details = model->roleNames().key("detailsText");
        QCOMPARE(model->index(0, 0).data(details).toString(), QStringLiteral("51"));
        QCOMPARE(model->index(249, 0).data(details).toString(), QStringLiteral("300"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
