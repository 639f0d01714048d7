#include "appharness.h"
#include "defaultsstore.h"
#include "notificationsettingslauncher.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// The settings window of a running application, opened from the main window.
struct Settings
{
    AppHarness h;
    QQuickWindow *window = nullptr;

    bool open()
    {
        if (!h.window && !h.start())
            return false;
        QMetaObject::invokeMethod(h.window, "showSettings");
        if (!QTest::qWaitFor(
                [this] { return (window = AppHarness::windowTitled(QStringLiteral("Settings"))); }))
            return false;
        // Keys go to the focus window.
        window->requestActivate();
        if (!QTest::qWaitFor([this] { return QGuiApplication::focusWindow() == window; }))
            return false;
        return settle();
    }
    // Lets the layouts settle, so that clicks land where the user sees things.
    bool settle()
    {
        QSignalSpy frames(window, &QQuickWindow::frameSwapped);
        window->update();
        return frames.wait();
    }
    QQuickItem *find(const QString &name) { return h.find(name, window->contentItem()); }
    QList<QQuickItem *> visible(const QString &name)
    {
        QList<QQuickItem *> items = AppHarness::findAll(window->contentItem(), name);
        items.removeIf([](QQuickItem *item) { return !item->isVisible(); });
        std::sort(items.begin(), items.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
        });
        return items;
    }
    QStringList fieldTexts()
    {
        QStringList texts;
        for (QQuickItem *field : visible(QStringLiteral("nameField")))
            texts.append(field->property("text").toString());
        return texts;
    }
    bool canApply() { return find(QStringLiteral("applyButton"))->isEnabled(); }
    bool showsNoProjects() { return find(QStringLiteral("noProjects"))->isVisible(); }

    // Replaces the text of the row's field by typing, as a user would.
    void type(int row, const QString &text)
    {
        QQuickItem *field = visible(QStringLiteral("nameField")).at(row);
        AppHarness::click(field);
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_Backspace);
        for (const QChar c : text)
            QTest::keyClick(window, c.toLatin1());
    }
    void selectTab(int index)
    {
        const QString names[] = {QStringLiteral("generalTab"), QStringLiteral("notificationsTab")};
        AppHarness::click(find(names[index]));
        QTRY_COMPARE(find(QStringLiteral("settingsTabs"))->property("currentIndex").toInt(), index);
        QVERIFY(settle());
    }
};

// Restores an environment variable when it goes.
struct EnvironmentOverride
{
    EnvironmentOverride(const char *name, const QByteArray &value)
        : name(name), had(qEnvironmentVariableIsSet(name)), old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        if (had)
            qputenv(name, old);
        else
            qunsetenv(name);
    }
    const char *name;
    bool had;
    QByteArray old;
};

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyStoreShowsNoProjects()
    {
        Settings s;
        QVERIFY(s.open());
        QCOMPARE(s.window->size(), QSize(500, 400));
        QCOMPARE(s.window->transientParent(), nullptr); // a window of its own
        QVERIFY(s.showsNoProjects());
        QVERIFY(s.fieldTexts().isEmpty());
        QVERIFY(!s.canApply());
    }

    // Steps: "type <row> <text>", "clear <row>", "clear all", "apply".
    void editing_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("canApply");
        QTest::addColumn<CustomNames>("stored");

        const CustomNames original{{"/p/alpha", "alpha"}, {"/p/zeta", "zeta"}};
        QTest::newRow("typing enables Apply")
            << QStringList{"type 0 Shop"} << QStringList{"Shop", "zeta"} << true << original;
        QTest::newRow("typing the stored text back disables it")
            << QStringList{"type 0 Shop", "type 0 alpha"} << QStringList{"alpha", "zeta"} << false
            << original;
        QTest::newRow("Apply stores the edit")
            << QStringList{"type 1 Docs", "apply"} << QStringList{"alpha", "Docs"} << false
            << CustomNames{{"/p/alpha", "alpha"}, {"/p/zeta", "Docs"}};
        QTest::newRow("a row's clear button, then Apply drops the row")
            << QStringList{"clear 0", "apply"} << QStringList{"zeta"} << true
            << CustomNames{{"/p/zeta", "zeta"}};
        QTest::newRow("Clear All Names stores nothing yet")
            << QStringList{"clear all"} << QStringList{"", ""} << true << original;
        QTest::newRow("Clear All Names and Apply empty the names")
            << QStringList{"clear all", "apply"} << QStringList{} << true << CustomNames{};
    }
    void editing()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, fields);
        QFETCH(bool, canApply);
        QFETCH(CustomNames, stored);

        Settings s;
        QVERIFY(s.h.start());
        s.h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/p/zeta"));
        s.h.send(2, QStringLiteral("UserPromptSubmit"), QStringLiteral("/p/alpha"));
        QVERIFY(s.open());
        QCOMPARE(s.fieldTexts(), QStringList({"alpha", "zeta"}));
        QVERIFY(!s.canApply());

        for (const QString &step : steps) {
            const QStringList words = step.split(u' ');
            if (step == u"clear all")
                AppHarness::click(s.find(QStringLiteral("clearAllButton")));
            else if (words[0] == u"apply")
                AppHarness::click(s.find(QStringLiteral("applyButton")));
            else if (words[0] == u"clear")
                AppHarness::click(
                    s.visible(QStringLiteral("clearNameButton")).at(words[1].toInt()));
            else
                s.type(words[1].toInt(), words[2]);
        }
        QTRY_COMPARE(s.fieldTexts(), fields);
        QCOMPARE(s.canApply(), canApply);
        QCOMPARE(s.h.manager().customNames(), stored);
        QCOMPARE(s.showsNoProjects(), stored.isEmpty());
        // A row's clear button shows only while its name is not empty.
        QCOMPARE(s.visible(QStringLiteral("clearNameButton")).size(),
                 fields.size() - fields.count(QString()));
    }

    void switchingTabsDiscardsEdits()
    {
        Settings s;
        QVERIFY(s.h.start());
        s.h.send(1, QStringLiteral("UserPromptSubmit"), QStringLiteral("/p/alpha"));
        QVERIFY(s.open());
        s.type(0, QStringLiteral("Shop"));
        QVERIFY(s.canApply());

        s.selectTab(1);
        QVERIFY(s.find(QStringLiteral("notifyOnIdle"))->isVisible());
        s.selectTab(0);
        QCOMPARE(s.fieldTexts(), QStringList({"alpha"}));
        QVERIFY(!s.canApply());
    }

    void togglesShowAndWriteTheirKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("initially");
        QTest::newRow("permission required") << "notifyOnPermissionRequired" << true;
        QTest::newRow("task complete") << "notifyOnTaskComplete" << true;
        QTest::newRow("idle") << "notifyOnIdle" << false;
    }
    void togglesShowAndWriteTheirKeys()
    {
        QFETCH(QString, key);
        QFETCH(bool, initially);

        Settings s;
        QVERIFY(s.open());
        s.selectTab(1);
        QQuickItem *toggle = s.find(key);
        QVERIFY(toggle);
        QCOMPARE(toggle->property("checked").toBool(), initially);

        for (bool expected : {!initially, initially}) {
            AppHarness::click(toggle);
            QCOMPARE(toggle->property("checked").toBool(), expected);
            DefaultsStore written(s.h.home.defaultsPath());
            QVERIFY(written.contains(key));
            QCOMPARE(written.boolValue(key), expected);
        }
    }

    void systemSettingsButton_data()
    {
        QTest::addColumn<QByteArray>("desktop");
        QTest::addColumn<bool>("installed"); // a gnome-control-center on PATH
        QTest::newRow("unknown desktop") << QByteArray("Sway") << true;
        QTest::newRow("no desktop named") << QByteArray() << true;
        QTest::newRow("GNOME without its settings program") << QByteArray("GNOME") << false;
        QTest::newRow("GNOME") << QByteArray("GNOME") << true;
    }
    void systemSettingsButton()
    {
        QFETCH(QByteArray, desktop);
        QFETCH(bool, installed);

        // A stand-in settings program that notes how it was started.
        QTemporaryDir bin;
        const QString started = bin.filePath(QStringLiteral("started"));
        if (installed) {
            QFile program(bin.filePath(QStringLiteral("gnome-control-center")));
            QVERIFY(program.open(QIODevice::WriteOnly));
            program.write("#!/bin/sh\necho \"$@\" > \"" + started.toUtf8() + "\"\n");
            program.close();
            program.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ExeOwner);
        }
        const EnvironmentOverride path("PATH", QFile::encodeName(bin.path()));
        const EnvironmentOverride current("XDG_CURRENT_DESKTOP", desktop);

        Settings s;
        QVERIFY(s.open());
        s.selectTab(1);
        QQuickItem *button = s.find(QStringLiteral("openSystemSettingsButton"));
        auto *toolTip = s.window->findChild<QObject *>(QStringLiteral("unavailableToolTip"));
        QVERIFY(button && toolTip);

        const bool available = installed && desktop == "GNOME";
        QCOMPARE(button->isEnabled(), available);
        // The tooltip waits for the pointer.
        QTest::qWait(600);
        QVERIFY(!toolTip->property("visible").toBool());
        QTest::mouseMove(
            s.window,
            button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint());
        if (available) {
            QTest::qWait(600);
            QVERIFY(!toolTip->property("visible").toBool());
            AppHarness::click(button);
            QTRY_VERIFY(QFile::exists(started));
            QFile note(started);
            QVERIFY(note.open(QIODevice::ReadOnly));
            QCOMPARE(note.readAll().trimmed(), QByteArray("notifications"));
        } else {
            const QString reason =
                NotificationSettingsLauncher::commandFor(QString::fromUtf8(desktop),
                                                         [](const QString &) { return QString(); })
                    .unavailableReason;
            QVERIFY(!reason.isEmpty());
            QTRY_VERIFY(toolTip->property("visible").toBool());
            QCOMPARE(toolTip->property("text").toString(), reason);
        }
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
