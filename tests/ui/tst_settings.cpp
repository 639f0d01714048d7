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
    void switches_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<bool>("onEmptyStore");
        QTest::newRow("permission") << QByteArray("notifyOnPermissionRequired") << true;
        QTest::newRow("task complete") << QByteArray("notifyOnTaskComplete") << true;
        QTest::newRow("idle") << QByteArray("notifyOnIdle") << false;
        QTest::newRow("pinned") << QByteArray("isPinnedToTop") << false;
    }

    void switches()
    {
        QFETCH(QByteArray, property);
        QFETCH(bool, onEmptyStore);

        TestHome home;
        DefaultsStore store(home.defaultsPath());
        Preferences preferences(store);
        QCOMPARE(preferences.property(property).toBool(), onEmptyStore);

        const int index = preferences.metaObject()->indexOfProperty(property);
        QSignalSpy notified(&preferences, preferences.metaObject()->property(index).notifySignal());
        QVERIFY(preferences.setProperty(property, !onEmptyStore));
        QCOMPARE(notified.size(), 1);
        // Stored at once, under the property's own name.
        QCOMPARE(DefaultsStore(home.defaultsPath()).boolValue(QString::fromUtf8(property)),
                 !onEmptyStore);
    }

    void launcherCommand_data()
    {
        QTest::addColumn<QString>("desktops");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("command"); // empty: unavailable
        QTest::addColumn<QString>("reasonMentions");

        const QStringList all{u"gnome-control-center"_s, u"systemsettings"_s,
                              u"xfce4-notifyd-config"_s};
        const QStringList gnome{u"/bin/gnome-control-center"_s, u"notifications"_s};
        QTest::newRow("GNOME") << u"GNOME"_s << all << gnome << QString();
        QTest::newRow("Ubuntu") << u"ubuntu:GNOME"_s << all << gnome << QString();
        QTest::newRow("KDE") << u"KDE"_s << all
                             << QStringList{u"/bin/systemsettings"_s, u"kcm_notifications"_s}
                             << QString();
        QTest::newRow("XFCE") << u"XFCE"_s << all << QStringList{u"/bin/xfce4-notifyd-config"_s}
                              << QString();
        QTest::newRow("later entry installed")
            << u"KDE:GNOME"_s << QStringList{u"gnome-control-center"_s} << gnome << QString();
        QTest::newRow("Cinnamon") << u"X-Cinnamon"_s << all << QStringList() << u"GNOME"_s;
        QTest::newRow("not set") << QString() << all << QStringList() << u"desktop"_s;
        QTest::newRow("program missing") << u"GNOME"_s << QStringList{u"systemsettings"_s}
                                         << QStringList() << u"gnome-control-center"_s;
    }

    void launcherCommand()
    {
        QFETCH(QString, desktops);
        QFETCH(QStringList, installed);
        QFETCH(QStringList, command);
        QFETCH(QString, reasonMentions);

        const auto found =
            NotificationSettingsLauncher::commandFor(desktops, [&](const QString &name) {
                return installed.contains(name) ? u"/bin/"_s + name : QString();
            });
        QCOMPARE(QStringList{found.program} + found.arguments,
                 command.isEmpty() ? QStringList{QString()} : command);
        QVERIFY2(found.unavailableReason.contains(reasonMentions),
                 qPrintable(found.unavailableReason));
        QCOMPARE(found.unavailableReason.isEmpty(), reasonMentions.isEmpty());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
