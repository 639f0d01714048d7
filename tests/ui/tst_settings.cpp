#include "appharness.h"
#include "defaultsstore.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"
#include "projectnamesmodel.h"
#include "sessionstore.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

const CustomNames original{{u"/p/alpha"_s, u"alpha"_s}, {u"/p/zeta"_s, u"zeta"_s}};

QStringList column(const ProjectNamesModel &model, int role = ProjectNamesModel::NameRole)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row).data(role).toString());
    return values;
}

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
        if (!QTest::qWaitFor([this] { return (window = windowTitled(u"Settings"_s)); }))
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

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CURRENT_DESKTOP", "Sway"); } // no known settings page

    void startAtLogin_data()
    {
        QTest::addColumn<QString>("configHome"); // relative to the test home; "-" unset
        QTest::addColumn<QString>("entry");      // where the entry must land
        const QString usual = u"/.config/autostart/com.tolvo.Tolvo.desktop"_s;
        QTest::newRow("XDG_CONFIG_HOME")
            << u"/cfg"_s << u"/cfg/autostart/com.tolvo.Tolvo.desktop"_s;
        QTest::newRow("unset") << u"-"_s << usual;
        QTest::newRow("relative is ignored") << u"cfg"_s << usual;
    }
    void startAtLogin()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, entry);
        TestHome home;
        if (configHome == u"-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME",
                    (configHome.startsWith(u'/') ? home.path() + configHome : configHome).toUtf8());
        DefaultsStore store(home.path() + u"/tolvo.ini"_s);
        Preferences p(store);
        QSignalSpy changed(&p, &Preferences::startAtLoginChanged);
        QVERIFY(!p.startAtLogin());
        p.setStartAtLogin(true);
        QFile file(home.path() + entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 Preferences::autostartEntry(QCoreApplication::applicationFilePath()));
        QVERIFY(Preferences(store).startAtLogin()); // read from the file, not remembered
        p.setStartAtLogin(false);
        QVERIFY(!file.exists() && !p.startAtLogin());
        QCOMPARE(changed.size(), 2);
    }

    // Exec= quoting, checked against desktop-file-validate where it is installed.
    void autostartEntry_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << u"/usr/bin/tolvo"_s << u"Exec=/usr/bin/tolvo"_s;
        QTest::newRow("space") << u"/opt/my apps/tolvo"_s << u"Exec=\"/opt/my apps/tolvo\""_s;
        QTest::newRow("percent") << u"/opt/100%/tolvo"_s << u"Exec=/opt/100%%/tolvo"_s;
        // Escaped twice: once inside the quotes, then as a string value.
        QTest::newRow("quote and dollar")
            << u"/opt/a\"$b/tolvo"_s << u"Exec=\"/opt/a\\\\\"\\\\$b/tolvo\""_s;
        QTest::newRow("backslash") << u"/opt/a\\b/tolvo"_s << u"Exec=\"/opt/a\\\\\\\\b/tolvo\""_s;
    }
    void autostartEntry()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        const QString text = Preferences::autostartEntry(program);
        QVERIFY2(text.split(u'\n').contains(exec), qPrintable(text));
        const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
        if (validator.isEmpty())
            return;
        TestHome home;
        QFile file(home.path() + u"/com.tolvo.Tolvo.desktop"_s);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0);
        file.close();
        QProcess validate;
        validate.start(validator, {file.fileName()});
        QVERIFY(validate.waitForFinished());
        QCOMPARE(validate.readAllStandardOutput() + validate.readAllStandardError(), QByteArray());
        QCOMPARE(validate.exitCode(), 0);
    }

    // Every program installed but KDE's; the first known desktop whose program is there wins.
    void launcherCommand_data()
    {
        QTest::addColumn<QString>("desktops");
        QTest::addColumn<QString>("command"); // or a part of the reason
        QTest::newRow("GNOME") << u"GNOME"_s << u"/gnome-control-center notifications"_s;
        QTest::newRow("Xfce") << u"XFCE"_s << u"/xfce4-notifyd-config"_s;
        QTest::newRow("first installed")
            << u"KDE:GNOME"_s << u"/gnome-control-center notifications"_s;
        QTest::newRow("not installed") << u"KDE"_s << u"systemsettings is not installed"_s;
        QTest::newRow("unknown") << u"X-Cinnamon"_s << u"GNOME, KDE Plasma and Xfce only"_s;
        QTest::newRow("none") << QString() << u"which desktop"_s;
    }
    void launcherCommand()
    {
        QFETCH(QString, desktops);
        QFETCH(QString, command);
        const auto c = NotificationSettingsLauncher::commandFor(desktops, [](const QString &name) {
            return name == u"systemsettings" ? QString() : u'/' + name;
        });
        const QString shown = c.program.isEmpty()
                                  ? c.unavailableReason
                                  : (QStringList{c.program} + c.arguments).join(u' ');
        QVERIFY2(c.program.isEmpty() ? shown.contains(command) : shown == command,
                 qPrintable(shown));
    }

    // Rows by code point: U+1F600 is D83D DE00, before U+FF5A by UTF-16 units.
    // Typing changes only the rows; Apply stores the names.
    void projectNames()
    {
        TestHome home;
        SessionStore store(home.configPath() + u"/sessions.json"_s);
        InstanceManager sessions(store);
        const QStringList sorted{u"/p/B"_s,   u"/p/a"_s,      u"/p/a-b"_s,
                                 u"/p/a/b"_s, u"/p/\uFF5A"_s, u"/p/\U0001F600"_s};
        for (const QString &path : sorted)
            store.setCustomName(path, path.mid(3));
        QCOMPARE(column(ProjectNamesModel(&store, &sessions), ProjectNamesModel::PathRole), sorted);

        sessions.updateCustomNames({{u"/p/a"_s, u"A"_s}, {u"/p/b"_s, u"B"_s}});
        ProjectNamesModel model(&store, &sessions);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setName(1, u"Bee"_s);
        QVERIFY(model.canApply());
        model.setName(1, u"B"_s); // typed back to what is stored
        QVERIFY(!model.canApply());

        model.setName(0, u"typed"_s);
        sessions.handle(Records::event(300, u"Stop"_s, u"/p/0"_s)); // stores the name "0"
        QCOMPARE(column(model), (QStringList{u"0"_s, u"typed"_s, u"B"_s}));
        model.reset();
        QCOMPARE(column(model), (QStringList{u"0"_s, u"A"_s, u"B"_s}));

        model.clearName(1);
        model.apply();
        QCOMPARE(store.customNames(), (CustomNames{{u"/p/0"_s, u"0"_s}, {u"/p/b"_s, u"B"_s}}));
        QVERIFY(model.canApply()); // the emptied entry is still among the edits
        model.clearAll();
        QCOMPARE(column(model), QStringList(2, QString()));
        QCOMPARE(store.customNames().size(), 2); // nothing stored before Apply
        model.apply();
        QVERIFY(model.isEmpty() && model.rowCount() == 0 && model.canApply());
        QCOMPARE(reset.size(), 0); // rows come and go one by one, so typing keeps its focus
    }

    // Steps: "type <text>" over the first name, or an item to click.
    void editingInTheWindow_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("firstName"); // null: no names listed
        QTest::addColumn<bool>("canApply");
        QTest::newRow("typing enables Apply") << QStringList{u"type Shop"_s} << u"Shop"_s << true;
        QTest::newRow("typing the stored text back")
            << QStringList{u"type Shop"_s, u"type alpha"_s} << u"alpha"_s << false;
        QTest::newRow("switching tabs drops edits")
            << QStringList{u"type Shop"_s, u"notificationsTab"_s, u"generalTab"_s} << u"alpha"_s
            << false;
        QTest::newRow("Clear All Names and Apply")
            << QStringList{u"clearAllButton"_s, u"applyButton"_s} << QString() << true;
    }
    void editingInTheWindow()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, firstName);
        Settings s;
        QVERIFY(s.h.start());
        s.h.sessions().updateCustomNames(original);
        QVERIFY(s.open());
        for (const QString &step : steps) {
            if (!step.startsWith(u"type ")) {
                AppHarness::click(s.find(step));
            } else { // types over the field's text, as a user would
                AppHarness::click(s.find(u"nameField"_s));
                QTest::keyClick(s.window, Qt::Key_A, Qt::ControlModifier);
                for (const QChar c : step.mid(5))
                    QTest::keyClick(s.window, c.toLatin1());
            }
            QVERIFY(s.settle());
        }
        QQuickItem *field = s.find(u"nameField"_s);
        QTRY_COMPARE(field ? field->property("text").toString() : QString(), firstName);
        QTEST(s.find(u"applyButton"_s)->isEnabled(), "canApply");
        QCOMPARE(s.h.app->store().customNames(), firstName.isNull() ? CustomNames() : original);
        QCOMPARE(s.find(u"noProjects"_s)->isVisible(), firstName.isNull());
    }

    // A fresh home: no projects, no start at login; notification switches on,
    // on, off, each stored by one click; no system settings page.
    void freshHome()
    {
        Settings s;
        QVERIFY(s.open());
        QVERIFY(s.find(u"noProjects"_s)->isVisible() && !s.find(u"applyButton"_s)->isEnabled());
        QQuickItem *startAtLogin = s.find(u"startAtLoginCheckBox"_s);
        QVERIFY(!startAtLogin->property("checked").toBool());
        AppHarness::click(startAtLogin);
        QVERIFY(QFile::exists(Preferences::autostartPath()));
        QVERIFY(startAtLogin->property("checked").toBool());

        AppHarness::click(s.find(u"notificationsTab"_s));
        QVERIFY(s.settle());
        const std::pair<const char *, bool> toggles[] = {{"notifyOnPermissionRequired", true},
                                                         {"notifyOnTaskComplete", true},
                                                         {"notifyOnIdle", false}};
        for (const auto &[key, initially] : toggles) {
            AppHarness::click(s.find(QString::fromLatin1(key)));
            DefaultsStore written;
            QVERIFY2(written.contains(QString::fromLatin1(key)) &&
                         written.boolValue(QString::fromLatin1(key)) != initially,
                     key);
        }

        QQuickItem *button = s.find(u"openSystemSettingsButton"_s);
        QVERIFY(!button->isEnabled());
        QTest::mouseMove(s.window, button->mapToScene(QPointF(5, 5)).toPoint());
        auto *toolTip = s.window->findChild<QObject *>(u"unavailableToolTip"_s);
        QTRY_VERIFY(toolTip->property("visible").toBool());
        QCOMPARE(toolTip->property("text").toString(),
                 NotificationSettingsLauncher().unavailableReason());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
