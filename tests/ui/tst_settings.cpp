#include "appharness.h"
#include "defaultsstore.h"
#include "preferences.h"
#include "projectnamesmodel.h"
#include "sessionstore.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

namespace {

// Enough projects that the General tab scrolls at the window's smallest size.
const CustomNames original = [] {
    CustomNames names{{u"/p/alpha"_s, u"alpha"_s}};
    for (int i = 0; i < 12; ++i)
        names.insert(u"/p/z"_s + QString::number(i), u"zeta"_s);
    return names;
}();

QStringList column(const ProjectNamesModel &model)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row).data(ProjectNamesModel::NameRole).toString());
    return values;
}

// The settings window, opened from the main window, at its smallest size: every
// click then checks that its control can be scrolled to there.
QQuickWindow *openSettings(AppHarness &h)
{
    QMetaObject::invokeMethod(h.window, "showSettings");
    QQuickWindow *window = AppHarness::shownWindow(u"Settings"_s);
    if (!window || window->minimumSize() != QSize(500, 400))
        return nullptr;
    window->resize(window->minimumSize());
    return AppHarness::settle(window) ? window : nullptr;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CURRENT_DESKTOP", "Sway"); } // no known settings page

    // Exec= quoting: a value of the desktop entry format holding a quoted argument.
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
        // At login Tolvo starts in the tray.
        QVERIFY2(text.split(u'\n').contains(exec + u" --hidden"_s), qPrintable(text));
    }

    // A setting as QML reads it after the store took bytes (null: none), and tolvo.ini's line for
    // it after QML assigned a value: one of another type, or no choice of the row's, changes
    // nothing.
    void settingValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("read");
        QTest::addColumn<QVariant>("assigned");
        QTest::addColumn<QString>("line"); // null: none
        const QVariant none, on(true), off(false), compact(u"compact"_s), automatic(u"auto"_s);
        QTest::newRow("switch on by default")
            << u"notifyOnTaskComplete"_s << none << on << off << u"notifyOnTaskComplete=false"_s;
        QTest::newRow("text to a switch")
            << u"notifyOnIdle"_s << none << off << QVariant(u"true"_s) << QString();
        QTest::newRow("text by default")
            << u"rowDensity"_s << none << automatic << compact << u"rowDensity=compact"_s;
        QTest::newRow("stored text") << u"rowDensity"_s << QVariant("compact"_ba) << compact
                                     << QVariant(u"wide"_s) << u"rowDensity=@ByteArray(compact)"_s;
        QTest::newRow("stored text not a choice")
            << u"rowDensity"_s << QVariant("wide"_ba) << automatic << on
            << u"rowDensity=@ByteArray(wide)"_s;
        // A number as QML hands it over (a double), within its bounds; outside them, stored by
        // hand or assigned, the default holds.
        QTest::newRow("whole number")
            << u"holdMinutes"_s << none << QVariant(9) << QVariant(30.0) << u"holdMinutes=30"_s;
        QTest::newRow("above the bound") << u"holdMinutes"_s << QVariant("61"_ba) << QVariant(9)
                                         << QVariant(0.0) << u"holdMinutes=@ByteArray(61)"_s;
        QTest::newRow("a fraction")
            << u"holdMinutes"_s << none << QVariant(9) << QVariant(2.5) << QString();
    }
    void settingValues()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, read);
        QFETCH(QVariant, assigned);
        QFETCH(QString, line);
        TestHome home;
        DefaultsStore store(home.configPath() + u"/tolvo.ini"_s);
        Preferences preferences(store);
        if (stored.isValid())
            store.setData(key, stored.toByteArray());
        const QByteArray property = key.toUtf8(); // read and assigned as QML does
        QCOMPARE(preferences.property(property), read);
        const bool taken = line.endsWith(u'=' + assigned.toString()) ||
                           (assigned.typeId() == QMetaType::Double &&
                            line.endsWith(u'=' + QString::number(assigned.toInt())) &&
                            assigned.toInt() == assigned.toDouble());
        if (!taken)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot take"_s));
        preferences.setProperty(property, assigned);
        QCOMPARE(preferences.property(property), taken && assigned.typeId() == QMetaType::Double
                                                     ? QVariant(assigned.toInt())
                                                 : taken ? assigned
                                                         : read);
        const QString ini = QString::fromUtf8(TestPaths::readFile(store.filePath()));
        QCOMPARE(ini.split(u'\n').filter(key + u'=').value(0), line);
    }

    // Rows by code point (U+1F600 is D83D DE00: before U+FF5A by UTF-16
    // units); a name typed stays while directories come, one row at a time.
    void projectNames()
    {
        TestHome home;
        SessionStore store(home.configPath() + u"/sessions.json"_s);
        SessionListModel sessions(store);
        const QStringList sorted{u"/p/B"_s,   u"/p/a"_s,      u"/p/a-b"_s,
                                 u"/p/a/b"_s, u"/p/\uFF5A"_s, u"/p/\U0001F600"_s};
        for (const QString &path : sorted)
            store.setCustomName(path, path);
        ProjectNamesModel model(&store, &sessions);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(column(model), sorted);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setName(1, u"typed"_s);
        sessions.handle(Records::event(300, u"Stop"_s, u"/p/0"_s)); // stores the name "0"
        QCOMPARE(column(model).mid(0, 3), (QStringList{u"0"_s, u"/p/B"_s, u"typed"_s}));
        QCOMPARE(reset.size(), 0); // typing keeps its focus
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
        AppHarness h;
        QVERIFY(h.start());
        h.sessions().updateCustomNames(original);
        QQuickWindow *window = openSettings(h);
        QVERIFY(window);
        const auto find = [&](const QString &name) { return h.find(name, window->contentItem()); };
        for (const QString &step : steps) {
            if (!step.startsWith(u"type ")) {
                AppHarness::click(find(step));
            } else { // types over the field's text, as a user would
                AppHarness::click(find(u"nameField"_s));
                QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
                for (const QChar c : step.mid(5))
                    QTest::keyClick(window, c.toLatin1());
            }
            QVERIFY(AppHarness::settle(window));
        }
        QQuickItem *field = find(u"nameField"_s);
        QTRY_COMPARE(field ? field->property("text").toString() : QString(), firstName);
        QTEST(find(u"applyButton"_s)->isEnabled(), "canApply");
        QCOMPARE(h.app->store().customNames(), firstName.isNull() ? CustomNames() : original);
        QCOMPARE(find(u"noProjects"_s)->isVisible(), firstName.isNull());
    }

    // A fresh home: no projects, no start at login; notification switches on,
    // on, off, each stored by one click; no system settings page here.
    void freshHome()
    {
        AppHarness h;
        QVERIFY(h.start());
        QQuickWindow *window = openSettings(h);
        QVERIFY(window);
        const auto find = [&](const QString &name) { return h.find(name, window->contentItem()); };
        QVERIFY(find(u"noProjects"_s)->isVisible() && !find(u"applyButton"_s)->isEnabled());
        QQuickItem *startAtLogin = find(u"startAtLoginCheckBox"_s);
        QFile entry(h.home.path() + u"/.config/autostart/com.tolvo.Tolvo.desktop"_s);
        for (const bool on : {true, false}) { // the entry's presence is the setting
            QCOMPARE(startAtLogin->property("checked").toBool(), !on);
            AppHarness::click(startAtLogin);
            QCOMPARE(entry.exists(), on);
        }

        AppHarness::click(find(u"notificationsTab"_s));
        QVERIFY(AppHarness::settle(window));
        for (const QString &key :
             {u"notifyOnPermissionRequired"_s, u"notifyOnTaskComplete"_s, u"notifyOnIdle"_s}) {
            AppHarness::click(find(key));
            QVERIFY(DefaultsStore().contains(key)); // stored at once, the other way round
            QCOMPARE(DefaultsStore().boolValue(key), key == u"notifyOnIdle");
        }
        QQuickItem *systemSettings = find(u"openSystemSettingsButton"_s);
        QVERIFY(!systemSettings->isEnabled());
        AppHarness::click(systemSettings); // the tab's last control, within reach
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
