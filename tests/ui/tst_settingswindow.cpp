#include "appharness.h"
#include "defaultsstore.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"

#include <QSignalSpy>

static const CustomNames original{{"/p/alpha", "alpha"}, {"/p/zeta", "zeta"}};

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
        if (!QTest::qWaitFor([this] { return (window = windowTitled("Settings")); }))
            return false;
        window->requestActivate(); // keys go to the focus window
        return QTest::qWaitFor([this] { return QGuiApplication::focusWindow() == window; }) &&
               settle();
    }
    bool settle() // lets the layouts settle, so that clicks land where the user sees things
    {
        QSignalSpy frames(window, &QQuickWindow::frameSwapped);
        window->update();
        return frames.wait();
    }
    QQuickItem *find(const QString &name) { return h.find(name, window->contentItem()); }
};

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CURRENT_DESKTOP", "Sway"); } // no known settings page
    // Steps: "type <text>" over the first name, or an item to click. Only Apply stores names.
    void editing_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("firstName"); // null: no names listed
        QTest::addColumn<bool>("canApply");
        const auto row = [](const char *name, QStringList steps, QString first, bool canApply) {
            QTest::newRow(name) << steps << first << canApply;
        };
        row("typing enables Apply", {"type Shop"}, "Shop", true);
        row("typing the stored text back", {"type Shop", "type alpha"}, "alpha", false);
        row("switching tabs drops edits", {"type Shop", "notificationsTab", "generalTab"}, "alpha",
            false);
        row("Clear All Names and Apply", {"clearAllButton", "applyButton"}, {}, true);
    }
    void editing()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, firstName);
        Settings s;
        QVERIFY(s.h.start());
        s.h.manager().updateCustomNames(original);
        QVERIFY(s.open());
        for (const QString &step : steps) {
            if (!step.startsWith(u"type ")) {
                AppHarness::click(s.find(step));
            } else { // types over the field's text, as a user would
                AppHarness::click(s.find("nameField"));
                QTest::keyClick(s.window, Qt::Key_A, Qt::ControlModifier);
                for (const QChar c : step.mid(5))
                    QTest::keyClick(s.window, c.toLatin1());
            }
            QVERIFY(s.settle());
        }
        QTRY_COMPARE(s.find("nameField") ? s.find("nameField")->property("text").toString() : "",
                     firstName);
        QTEST(s.find("applyButton")->isEnabled(), "canApply");
        QCOMPARE(s.h.manager().customNames(), firstName.isNull() ? CustomNames() : original);
        QCOMPARE(s.find("noProjects")->isVisible(), firstName.isNull());
    }

    // A fresh store: no projects, no start at login; notification switches on, on, off; no
    // system settings.
    void emptyStore()
    {
        Settings s;
        QVERIFY(s.open());
        QVERIFY(s.find("noProjects")->isVisible() && !s.find("applyButton")->isEnabled());
        QQuickItem *startAtLogin = s.find("startAtLoginCheckBox");
        QVERIFY(!startAtLogin->property("checked").toBool());
        AppHarness::click(startAtLogin);
        QVERIFY(QFile::exists(Preferences::autostartPath()));
        QVERIFY(startAtLogin->property("checked").toBool());

        AppHarness::click(s.find("notificationsTab"));
        QVERIFY(s.settle());
        const std::pair<const char *, bool> toggles[] = {{"notifyOnPermissionRequired", true},
                                                         {"notifyOnTaskComplete", true},
                                                         {"notifyOnIdle", false}};
        for (const auto &[key, initially] : toggles) { // one click writes the other state
            AppHarness::click(s.find(key));
            DefaultsStore written(s.h.home.defaultsPath());
            QVERIFY2(written.contains(key) && written.boolValue(key) != initially, key);
        }

        QQuickItem *button = s.find("openSystemSettingsButton");
        QVERIFY(!button->isEnabled());
        QTest::mouseMove(s.window, button->mapToScene(QPointF(5, 5)).toPoint());
        auto *toolTip = s.window->findChild<QObject *>("unavailableToolTip");
        QTRY_VERIFY(toolTip->property("visible").toBool());
        QCOMPARE(toolTip->property("text").toString(),
                 NotificationSettingsLauncher().unavailableReason());
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
