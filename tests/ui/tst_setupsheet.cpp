#include "appharness.h"
#include "hookconfiguration.h"
#include "hookinstaller.h"

#include <QClipboard>
#include <QDir>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

const QString sheetTitle = u"Configure Claude Code"_s;

// The application with the sheet that Ctrl+Shift+K on the main window brings up.
struct Sheet
{
    AppHarness h;
    QQuickWindow *window = nullptr;

    bool show()
    {
        if (!h.window && !h.start())
            return false;
        h.window->requestActivate();
        if (!QTest::qWaitForWindowActive(h.window))
            return false;
        QTest::keyClick(h.window, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        return QTest::qWaitFor([this] { return (window = windowTitled(sheetTitle)); });
    }
    QQuickItem *find(const QString &name) { return h.find(name, window->contentItem()); }
};

class TestSetupSheet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsTheConfigurationOnce()
    {
        Sheet s;
        QVERIFY(s.show());
        QCOMPARE(s.find(u"configurationText"_s)->property("text").toString(),
                 HookConfiguration::hooksConfiguration());
        QVERIFY(s.show()); // asked again while it is up
        QCoreApplication::processEvents();
        int sheets = 0;
        for (QWindow *w : QGuiApplication::topLevelWindows())
            sheets += w->isVisible() && w->title() == sheetTitle;
        QCOMPARE(sheets, 1);
    }

    // Copy replaces the clipboard and says so; the alert's one button, or
    // Escape, closes the alert and leaves the sheet up.
    void copyAlerts_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("OK") << false;
        QTest::newRow("Escape") << true;
    }
    void copyAlerts()
    {
        QFETCH(bool, escape);
        Sheet s;
        QVERIFY(s.show());
        QGuiApplication::clipboard()->setText(u"copied before"_s);
        AppHarness::click(s.find(u"copyButton"_s));
        QCOMPARE(QGuiApplication::clipboard()->text(), HookConfiguration::hooksConfiguration());
        auto *alert = s.window->findChild<QObject *>(u"copiedAlert"_s);
        QTRY_VERIFY(alert->property("opened").toBool());
        auto *popup = qvariant_cast<QQuickItem *>(alert->property("contentItem"))->parentItem();
        QList<QQuickItem *> buttons = findItems(popup, QString());
        buttons.removeIf(
            [](QQuickItem *i) { return !i->inherits("QQuickAbstractButton") || !i->isVisible(); });
        QCOMPARE(buttons.size(), 1);
        QSignalSpy closed(alert, SIGNAL(closed()));
        if (escape)
            QTest::keyClick(s.window, Qt::Key_Escape);
        else
            AppHarness::click(buttons.first());
        QTRY_COMPARE(closed.size(), 1);
        QVERIFY(windowTitled(sheetTitle) == s.window); // still up; s.window may dangle
    }

    // The two buttons change ~/.claude/settings.json; the lines below them say
    // where it stands and what the last click did. A file that is not JSON
    // disables both.
    void installAndRemove_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no file yet
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("canInstall");
        QTest::addColumn<bool>("canRemove");
        QTest::newRow("install into a new file")
            << QByteArray() << QStringList{u"installButton"_s}
            << u"Tolvo's hooks are installed: Claude Code reports to Tolvo."_s
            << u"Installed Tolvo's hooks in ~/.claude/settings.json."_s << false << true;
        QTest::newRow("install and remove")
            << QByteArray(R"({"model": "opus"})")
            << QStringList{u"installButton"_s, u"removeButton"_s}
            << u"Tolvo's hooks are not installed in Claude Code's settings."_s
            << u"Removed Tolvo's hooks from ~/.claude/settings.json."_s << true << false;
        QTest::newRow("not JSON")
            << QByteArray("{\n  \"model\": opus\n}") << QStringList()
            << u"The settings file is not valid JSON: parse error at line 2, column 12"_s
            << QString() << false << false;
    }
    void installAndRemove()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, clicks);
        QFETCH(QString, state);
        QFETCH(bool, canInstall);
        QFETCH(bool, canRemove);
        Sheet s;
        const QString path = s.h.home.path() + u"/.claude/settings.json"_s;
        if (!settings.isNull()) {
            QVERIFY(QDir().mkpath(s.h.home.path() + u"/.claude"_s));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
        }
        QVERIFY(s.show());
        for (const QString &button : clicks)
            AppHarness::click(s.find(button));
        const QString stateText = s.find(u"installState"_s)->property("text").toString();
        QVERIFY2(stateText.startsWith(state), qPrintable(stateText));
        QTEST(s.find(u"installResult"_s)->property("text").toString(), "result");
        QCOMPARE(s.find(u"installButton"_s)->isEnabled(), canInstall);
        QCOMPARE(s.find(u"removeButton"_s)->isEnabled(), canRemove);
        QCOMPARE(HookInstaller::inspectFile(path).state == HookInstaller::State::Installed,
                 !canInstall && canRemove);
    }
};

QTEST_MAIN(TestSetupSheet)
#include "tst_setupsheet.moc"
