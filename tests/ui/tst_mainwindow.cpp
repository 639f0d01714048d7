#include "appharness.h"

#include "defaultsstore.h"

#include <QAbstractItemModel>
#include <QSignalSpy>
#include <QStyleHints>

namespace {

// Rows as the user sees them: top to bottom by their position on screen.
QStringList rowsOnScreen(QQuickWindow *window)
{
    QList<QQuickItem *> rows = AppHarness::findAll(window->contentItem(), QStringLiteral("instanceRow"));
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
    const auto rows = AppHarness::findAll(window->contentItem(), QStringLiteral("instanceRow"));
    for (QQuickItem *row : rows)
        if (row->property("displayName").toString() == name)
            return row;
    return nullptr;
}

// Opens the row of that name and waits until its log has finished opening.
QQuickItem *openRow(QQuickWindow *window, const QString &name)
{
    QQuickItem *row = nullptr;
    if (!QTest::qWaitFor([&] { return (row = rowNamed(window, name)); }))
        return nullptr;
    QMetaObject::invokeMethod(row, "toggleExpanded");
    const bool open = QTest::qWaitFor([&] {
        QQuickItem *section = findItem(row, QStringLiteral("logSection"));
        return section && section->height() > 0 && !section->property("opening").toBool();
    });
    return open ? row : nullptr;
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
        auto *content = h.find(QStringLiteral("content"));
        auto *subtitle = h.find(QStringLiteral("subtitle"));
        QCOMPARE(content->property("currentIndex").toInt(), 0); // welcome
        QCOMPARE(subtitle->property("text").toString(), QStringLiteral("0 instances"));

        h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/shop"));
        QCOMPARE(content->property("currentIndex").toInt(), 2); // list
        QCOMPARE(subtitle->property("text").toString(), QStringLiteral("1 instance"));
        h.send(2, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/api"));
        QCOMPARE(subtitle->property("text").toString(), QStringLiteral("2 instances"));

        h.manager().removeInstance(h.idOf(1));
        h.manager().removeInstance(h.idOf(2));
        QCOMPARE(content->property("currentIndex").toInt(), 1); // empty state
        QCOMPARE(subtitle->property("text").toString(), QStringLiteral("0 instances"));
    }

    void restoredPlaceholderShowsTheList()
    {
        AppHarness h;
        {
            DefaultsStore store;
            store.setData(InstanceManager::savedInstancesKey,
                          "{\"/w/a\":{\"id\":\"A\",\"projectPath\":\"/w/a\",\"projectName\":\"a\"}}");
        }
        QVERIFY(h.start());
        QCOMPARE(h.find(QStringLiteral("content"))->property("currentIndex").toInt(), 2);
        QCOMPARE(h.find(QStringLiteral("subtitle"))->property("text").toString(), QStringLiteral("1 instance"));
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"a"}));

        // Removing the last placeholder before any event brings the welcome back.
        h.manager().removeInstance(QStringLiteral("A"));
        QCOMPARE(h.find(QStringLiteral("content"))->property("currentIndex").toInt(), 0);
    }

    void pinTogglesPersistsAndFloats()
    {
        AppHarness h;
        QVERIFY(h.start());
        auto *pin = h.find(QStringLiteral("pinButton"));
        QVERIFY(!h.window->flags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(pin->property("ToolTip.text"), QVariant()); // attached; checked through the bridge below

        QMetaObject::invokeMethod(pin, "clicked");
        QVERIFY(h.window->flags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(h.app.defaults().boolValue(QStringLiteral("isPinnedToTop")), true);
        QCOMPARE(pin->property("pinned").toBool(), true);

        QMetaObject::invokeMethod(pin, "clicked");
        QVERIFY(!h.window->flags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(h.app.defaults().boolValue(QStringLiteral("isPinnedToTop")), false);
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
        h.send(1, QStringLiteral("Stop"), QStringLiteral("/w/x"));
        h.send(2, QStringLiteral("Stop"), QStringLiteral("/w/y"));
        h.send(3, QStringLiteral("Stop"), QStringLiteral("/w/z"));
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"x", "y", "z"}));
        QSignalSpy order(&h.manager(), &InstanceManager::orderChanged);

        // Press on the first row's status line and drag below the last row.
        QQuickItem *first = rowNamed(h.window, QStringLiteral("x"));
        QQuickItem *last = rowNamed(h.window, QStringLiteral("z"));
        QPoint at = first->mapToScene(QPointF(first->width() / 2, 20)).toPoint();
        const QPoint target = last->mapToScene(QPointF(last->width() / 2, last->height() - 4)).toPoint();
        QTest::mousePress(h.window, Qt::LeftButton, Qt::NoModifier, at);
        while (at.y() < target.y()) {
            at.ry() += 8;
            QTest::mouseMove(h.window, at, 5);
        }
        QTest::mouseRelease(h.window, Qt::LeftButton, Qt::NoModifier, at);

        QTRY_COMPARE(order.size(), 1);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"y", "z", "x"}));
        QStringList names;
        for (const ClaudeCodeInstance &i : h.manager().sortedInstances())
            names.append(i.projectName);
        QCOMPARE(names, QStringList({"y", "z", "x"}));
        // Nothing was opened by the drag.
        QCOMPARE(rowNamed(h.window, QStringLiteral("x"))->property("isExpanded").toBool(), false);
    }

    void openingARowMarksItRead()
    {
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/x"), {}, QStringLiteral("go"));
        h.send(1, QStringLiteral("Stop"), QStringLiteral("/w/x"));
        QCOMPARE(h.manager().instances().first().unreadEventCount, 2);
        QQuickItem *row = nullptr;
        QTRY_VERIFY((row = rowNamed(h.window, QStringLiteral("x"))));
        AppHarness::click(h.find(QStringLiteral("statusLine"), row));
        QVERIFY(row->property("isExpanded").toBool());
        QCOMPARE(h.manager().instances().first().unreadEventCount, 0);
        QTRY_COMPARE(AppHarness::findAll(row, QStringLiteral("logEntry")).size(), 2);

        // Closing changes nothing in the model.
        h.send(1, QStringLiteral("Stop"), QStringLiteral("/w/x"));
        AppHarness::click(h.find(QStringLiteral("statusLine"), row));
        QVERIFY(!row->property("isExpanded").toBool());
        QCOMPARE(h.manager().instances().first().unreadEventCount, 1);
    }

    void editingTheName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("finish"); // return, escape, header
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
        QQuickItem *row = nullptr;
        QTRY_VERIFY((row = rowNamed(h.window, QStringLiteral("x"))));

        // Hovering the title shows the Edit control.
        QQuickItem *title = h.find(QStringLiteral("title"), row);
        QQuickItem *edit = h.find(QStringLiteral("editControl"), row);
        QCOMPARE(edit->opacity(), 0.0);
        QTest::mouseMove(h.window, title->mapToScene(QPointF(4, 4)).toPoint());
        QTRY_COMPARE(edit->opacity(), 1.0);
        AppHarness::click(edit);
        QVERIFY(row->property("isEditingName").toBool());

        QQuickItem *field = nullptr;
        QTRY_VERIFY((field = h.find(QStringLiteral("nameField"), row)));
        QTRY_VERIFY(field->hasActiveFocus());
        QCOMPARE(field->property("text").toString(), QStringLiteral("x"));
        QTest::keySequence(h.window, QKeySequence::SelectAll);
        if (typed.isEmpty())
            QTest::keyClick(h.window, Qt::Key_Backspace);
        else
            for (QChar c : typed)
                QTest::keyClick(h.window, c.toLatin1());

        if (finish == u"return")
            QTest::keyClick(h.window, Qt::Key_Return);
        else if (finish == u"escape")
            QTest::keyClick(h.window, Qt::Key_Escape);
        else
            AppHarness::click(h.find(QStringLiteral("rowHeader"), row), QPointF(row->width() - 40, 8));

        QTRY_VERIFY(!row->property("isEditingName").toBool());
        QCOMPARE(row->property("isExpanded").toBool(), false); // the header click did not open it
        QCOMPARE(h.manager().instances().first().displayName(), shown);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({shown}));
    }

    void clearAndRemove()
    {
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/x"), {}, QStringLiteral("go"));
        h.send(2, QStringLiteral("Stop"), QStringLiteral("/w/y"));
        QQuickItem *row = openRow(h.window, QStringLiteral("x"));
        QVERIFY(row);
        AppHarness::click(h.find(QStringLiteral("clearButton"), row));
        QVERIFY(h.manager().instance(h.idOf(1))->activityLog.isEmpty());
        QTRY_COMPARE(AppHarness::findAll(row, QStringLiteral("logEntry")).size(), 0);

        AppHarness::click(h.find(QStringLiteral("removeButton"), row));
        QCOMPARE(h.manager().instanceCount(), 1);
        QTRY_COMPARE(rowsOnScreen(h.window), QStringList({"y"}));
    }

    // Prompts, paths and JSON are shown as the text they are, never as markup.
    void untrustedTextIsShownLiterally()
    {
        AppHarness h;
        QVERIFY(h.start());
        const QString prompt = QStringLiteral("<b>bold</b><img src=\"http://127.0.0.1:1/x\">");
        h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/w/<i>x"), {}, prompt);
        QQuickItem *row = openRow(h.window, QStringLiteral("<i>x"));
        QVERIFY(row);
        QCOMPARE(h.find(QStringLiteral("statusLine"), row)->property("text").toString(),
                 QStringLiteral("Prompted: ") + prompt.left(40) + QStringLiteral("..."));
        h.find(QStringLiteral("logEntry"), row)->setProperty("showJSON", true);
        QCoreApplication::processEvents();

        // Every element that shows the prompt or the path renders plain text:
        // the title, the status line, the log line's details and the JSON panel.
        int shown = 0;
        const auto items = AppHarness::findAll(row, QString());
        for (QQuickItem *item : items) {
            const QString text = item->property("text").toString();
            if (!text.contains(QStringLiteral("<i>x")) && !text.contains(QStringLiteral("<img src=")))
                continue;
            QCOMPARE(item->property("textFormat").toInt(), int(Qt::PlainText));
            ++shown;
        }
        QCOMPARE(shown, 4);
    }

    void logShowsTheNewest250()
    {
        AppHarness h;
        QVERIFY(h.start());
        for (int n = 1; n <= 300; ++n)
            h.manager().handleHookEvent({QStringLiteral("UserPromptSubmit"), 1, {}, QString::number(n), QStringLiteral("/w/x")}, QStringLiteral("{}"));
        QCoreApplication::processEvents();
        QQuickItem *row = openRow(h.window, QStringLiteral("x"));
        QVERIFY(row);
        auto *model = h.find(QStringLiteral("activityLog"), row)->property("model").value<QAbstractItemModel *>();
        QCOMPARE(model->rowCount(), 250);
        const QHash<int, QByteArray> roles = model->roleNames();
        const int details = roles.key("detailsText");
        QCOMPARE(model->index(0, 0).data(details).toString(), QStringLiteral("51"));
        QCOMPARE(model->index(249, 0).data(details).toString(), QStringLiteral("300"));
    }

    void jsonPanelToggles()
    {
        AppHarness h;
        QVERIFY(h.start());
        h.send(1, QStringLiteral("Stop"), QStringLiteral("/w/x"));
        QQuickItem *row = openRow(h.window, QStringLiteral("x"));
        QVERIFY(row);
        QQuickItem *entry = h.find(QStringLiteral("logEntry"), row);
        QQuickItem *button = h.find(QStringLiteral("jsonButton"), entry);
        QCOMPARE(button->property("text").toString(), QStringLiteral("JSON"));
        AppHarness::click(button);
        QVERIFY(entry->property("showJSON").toBool());
        QCOMPARE(button->property("text").toString(), QStringLiteral("Hide"));
        QQuickItem *json = nullptr;
        QTRY_VERIFY((json = h.find(QStringLiteral("jsonText"), entry)));
        QVERIFY(json->property("text").toString().contains(QStringLiteral("\"event\": \"Stop\"")));
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
        AppHarness::click(button);
        QVERIFY(!entry->property("showJSON").toBool());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
