#include "defaultsstore.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"
#include "testsupport.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void switches()
    {
        TestHome home;
        DefaultsStore store(home.defaultsPath());
        Preferences p(store);
        QVERIFY(p.notifyOnPermissionRequired() && p.notifyOnTaskComplete() && !p.notifyOnIdle());
        QSignalSpy notified(&p, &Preferences::notifyOnIdleChanged);
        p.setNotifyOnIdle(true); // stored at once, under the property's name
        QVERIFY(DefaultsStore(home.defaultsPath()).boolValue(u"notifyOnIdle"_s));
        QCOMPARE(notified.size(), 1);
    }

    void startAtLogin_data()
    {
        QTest::addColumn<QString>("configHome"); // relative to the test home; "-" unset
        QTest::addColumn<QString>("entry");      // where the entry must land
        QTest::newRow("XDG_CONFIG_HOME") << "/cfg"
                                         << "/cfg/autostart/com.tolvo.Tolvo.desktop";
        QTest::newRow("unset") << "-"
                               << "/.config/autostart/com.tolvo.Tolvo.desktop";
        QTest::newRow("relative is ignored") << "cfg"
                                             << "/.config/autostart/com.tolvo.Tolvo.desktop";
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
                    (configHome.startsWith(u'/') ? home.path() + configHome : configHome)
                        .toLocal8Bit());
        DefaultsStore store(home.defaultsPath());
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
        QTest::newRow("plain") << "/usr/bin/tolvo"
                               << "Exec=/usr/bin/tolvo";
        QTest::newRow("space") << "/opt/my apps/tolvo"
                               << "Exec=\"/opt/my apps/tolvo\"";
        QTest::newRow("percent") << "/opt/100%/tolvo"
                                 << "Exec=/opt/100%%/tolvo";
        // Escaped twice: once inside the quotes, then as a string value.
        QTest::newRow("quote and dollar") << "/opt/a\"$b/tolvo"
                                          << "Exec=\"/opt/a\\\\\"\\\\$b/tolvo\"";
        QTest::newRow("backslash") << "/opt/a\\b/tolvo"
                                   << "Exec=\"/opt/a\\\\\\\\b/tolvo\"";
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

    void launcherCommand()
    {
        const auto text = [](const QString &desktops) { // every program installed but KDE's
            const auto f = NotificationSettingsLauncher::commandFor(desktops, [](auto &name) {
                return name == u"systemsettings" ? QString() : u'/' + name;
            });
            return (QStringList{f.program} + f.arguments).join(u' ') + f.unavailableReason;
        };
        QCOMPARE(text(u"GNOME"_s), u"/gnome-control-center notifications"_s);
        QCOMPARE(text(u"XFCE"_s), u"/xfce4-notifyd-config"_s);
        QCOMPARE(text(u"KDE:GNOME"_s), u"/gnome-control-center notifications"_s); // first installed
        QVERIFY(text(u"KDE"_s).contains(u"systemsettings is not installed"_s));
        QVERIFY(text(u"X-Cinnamon"_s).contains(u"GNOME, KDE Plasma and Xfce only"_s));
        QVERIFY(text({}).contains(u"which desktop"_s));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
