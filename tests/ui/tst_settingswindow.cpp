#include "appharness.h"
#include "defaultsstore.h"
#include "notificationsettingslauncher.h"

#include <QSignalSpy>

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
        if (!QTest::qWaitFor([this] { return (window = AppHarness::windowTitled("Settings")); }))
            return false;
        window->requestActivate(); // keys go to the focus window
        return QTest::qWaitFor([this] { return QGuiApplication::focusWindow() == window; }) &&
               settle();
    }
    // Lets the layouts settle, so that clicks land where the user sees things.
    bool settle()
    {
        QSignalSpy frames(window, &QQuickWindow::frameSwapped);
        window->update();
        return frames.wait();
    }
    QQuickItem *find(const QString &name) { return h.find(name, window->contentItem()); }
    QList<QQuickItem *> fields() { return findItems(window->contentItem(), "nameField"); }
    QStringList fieldTexts()
    {
        QStringList texts;
        for (QQuickItem *field : fields())
            texts.append(field->property("text").toString());
        return texts;
    }
    void selectTab(const char *name, int index)
    {
        AppHarness::click(find(name));
        QTRY_COMPARE(find("settingsTabs")->property("currentIndex").toInt(), index);
        QVERIFY(settle());
    }
};

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CURRENT_DESKTOP", "Sway"); } // no known settings page
    // Steps: "type <row> <text>", "clear all", "apply", "tabs" (there and back).
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
        QTest::newRow("switching tabs drops edits")
            << QStringList{"type 0 Shop", "tabs"} << QStringList{"alpha", "zeta"} << false
            << original;
        QTest::newRow("Apply stores the edit")
            << QStringList{"type 1 Docs", "apply"} << QStringList{"alpha", "Docs"} << false
            << CustomNames{{"/p/alpha", "alpha"}, {"/p/zeta", "Docs"}};
        QTest::newRow("Clear All Names and Apply")
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
        s.h.manager().updateCustomNames({{"/p/zeta", "zeta"}, {"/p/alpha", "alpha"}});
        QVERIFY(s.open());

        for (const QString &step : steps) {
            const QStringList words = step.split(u' ');
            if (step == u"clear all" || step == u"apply") {
                AppHarness::click(s.find(step == u"apply" ? "applyButton" : "clearAllButton"));
            } else if (step == u"tabs") {
                s.selectTab("notificationsTab", 1);
                s.selectTab("generalTab", 0);
            } else { // types over the field's text, as a user would
                AppHarness::click(s.fields().at(words[1].toInt()));
                QTest::keyClick(s.window, Qt::Key_A, Qt::ControlModifier);
                for (const QChar c : words[2])
                    QTest::keyClick(s.window, c.toLatin1());
            }
        }
        QTRY_COMPARE(s.fieldTexts(), fields);
        QCOMPARE(s.find("applyButton")->isEnabled(), canApply);
        QCOMPARE(s.h.manager().customNames(), stored);
        QCOMPARE(s.find("noProjects")->isVisible(), stored.isEmpty());
    }

    // A fresh store: no projects; notification switches on, on, off; no system settings.
    void emptyStore()
    {
        Settings s;
        QVERIFY(s.open());
        QVERIFY(s.find("noProjects")->isVisible() && !s.find("applyButton")->isEnabled());

        s.selectTab("notificationsTab", 1);
        const std::pair<const char *, bool> toggles[] = {{"notifyOnPermissionRequired", true},
                                                         {"notifyOnTaskComplete", true},
                                                         {"notifyOnIdle", false}};
        for (const auto &[key, initially] : toggles) {
            QQuickItem *toggle = s.find(key);
            QCOMPARE(toggle->property("checked").toBool(), initially);
            for (bool expected : {!initially, initially}) {
                AppHarness::click(toggle);
                QCOMPARE(toggle->property("checked").toBool(), expected);
                DefaultsStore written(s.h.home.defaultsPath());
                QVERIFY2(written.contains(key) && written.boolValue(key) == expected, key);
            }
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
