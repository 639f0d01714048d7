#include "defaultsstore.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"
#include "testsupport.h"

#include <QSignalSpy>
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
