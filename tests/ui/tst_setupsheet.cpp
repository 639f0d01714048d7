#include "appharness.h"
#include "hookconfiguration.h"
#include "hookinstaller.h"

#include <QClipboard>

using namespace Qt::StringLiterals;

const QString sheetTitle = u"Configure Claude Code"_s;

// The sheet that Ctrl+Shift+K on the main window brings up.
QQuickWindow *showSheet(AppHarness &h)
{
    h.window->requestActivate();
    if (!QTest::qWaitForWindowActive(h.window))
        return nullptr;
    QTest::keyClick(h.window, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    return AppHarness::shownWindow(sheetTitle);
}

class TestSetupSheet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One sheet however often it is asked for. Copy replaces the clipboard
    // and says so in an alert that Escape closes.
    void showAndCopy()
    {
        AppHarness h;
        QVERIFY(h.start());
        QQuickWindow *sheet = showSheet(h);
        QVERIFY(sheet);
        QCOMPARE(h.find(u"configurationText"_s, sheet->contentItem())->property("text").toString(),
                 HookConfiguration::hooksConfiguration());
        QCOMPARE(showSheet(h), sheet); // asked again while it is up
        const QWindowList windows = QGuiApplication::topLevelWindows();
        QCOMPARE(
            std::count_if(windows.cbegin(), windows.cend(),
                          [](QWindow *w) { return w->isVisible() && w->title() == sheetTitle; }),
            1);

        QGuiApplication::clipboard()->setText(u"copied before"_s);
        AppHarness::click(h.find(u"copyButton"_s, sheet->contentItem()));
        QCOMPARE(QGuiApplication::clipboard()->text(), HookConfiguration::hooksConfiguration());
        auto *alert = sheet->findChild<QObject *>(u"copiedAlert"_s);
        QTRY_VERIFY(alert->property("opened").toBool());
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!alert->property("visible").toBool());
        QCOMPARE(windowTitled(sheetTitle), sheet); // the sheet stays

        // The sheet's buttons share one shape: height and padding.
        QQuickItem *copy = h.find(u"copyButton"_s, sheet->contentItem());
        for (const QString &name : {u"installButton"_s, u"removeButton"_s}) {
            QQuickItem *button = h.find(name, sheet->contentItem());
            QCOMPARE(button->height(), copy->height());
            for (const char *padding : {"leftPadding", "rightPadding", "topPadding"})
                QCOMPARE(button->property(padding), copy->property(padding));
        }
    }

    // On each agent's tab the two buttons change that agent's settings file, and
    // no other; the lines below them say where it stands and what the last click
    // did. A file that is not JSON disables both. Codex runs no hook the user has
    // not trusted in it, and its state says so. On Claude Code's tab install shares its status
    // line unless the box is cleared.
    void installAndRemove_data()
    {
        QTest::addColumn<QString>("agent");       // its tab is clicked first
        QTest::addColumn<QByteArray>("settings"); // null: no file yet
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("canInstall");
        QTest::addColumn<bool>("canRemove");
        const QString untrusted = u"Tolvo's hooks are installed: Codex reports to Tolvo.\n"
                                  "Codex runs them only once you trust them: start codex"_s;
        QTest::newRow("install into a new file")
            << u"claude"_s << QByteArray() << QStringList{u"installButton"_s}
            << u"Tolvo's hooks are installed: Claude Code reports to Tolvo.\n"
               "Tolvo's status line is installed: sessions show usage."_s
            << u"Installed Tolvo's hooks in ~/.claude/settings.json."_s << false << true;
        QTest::newRow("install without the status line")
            << u"claude"_s << QByteArray()
            << QStringList{u"shareStatusLineCheckBox"_s, u"installButton"_s}
            << u"Tolvo's hooks are installed: Claude Code reports to Tolvo.\n"
               "Tolvo's status line is not installed: sessions show no usage."_s
            << u"Installed Tolvo's hooks in ~/.claude/settings.json."_s << false << true;
        QTest::newRow("install and remove")
            << u"claude"_s << QByteArray(R"({"model": "opus"})")
            << QStringList{u"installButton"_s, u"removeButton"_s}
            << u"Tolvo's hooks are not installed in Claude Code's settings."_s
            << u"Removed Tolvo's hooks from ~/.claude/settings.json."_s << true << false;
        QTest::newRow("not JSON")
            << u"claude"_s << QByteArray("{\n  \"model\": opus\n}") << QStringList()
            << u"The settings file is not valid JSON: parse error at line 2, column 12"_s
            << QString() << false << false;
        QTest::newRow("Codex: install")
            << u"codex"_s << QByteArray() << QStringList{u"installButton"_s} << untrusted
            << u"Installed Tolvo's hooks in ~/.codex/hooks.json."_s << false << true;
        QTest::newRow("Codex: installed, never trusted")
            << u"codex"_s
            << HookInstaller::install({}, HookConfiguration::installPrefix(),
                                      PermissionHold::defaultMinutes, Agent::codex)
                   .text
            << QStringList() << untrusted << QString() << false << true;
        QTest::newRow("Gemini CLI: install")
            << u"gemini"_s << QByteArray() << QStringList{u"installButton"_s}
            << u"Tolvo's hooks are installed: Gemini CLI reports to Tolvo."_s
            << u"Installed Tolvo's hooks in ~/.gemini/settings.json."_s << false << true;
    }
    void installAndRemove()
    {
        QFETCH(QString, agent);
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, clicks);
        QFETCH(QString, state);
        QFETCH(bool, canInstall);
        QFETCH(bool, canRemove);
        const Agent named = *HookConfiguration::agentNamed(agent);
        qunsetenv("CODEX_HOME");
        AppHarness h;
        const QString path = HookInstaller::defaultSettingsPath(named);
        QVERIFY(settings.isNull() || TestPaths::writeFile(path, settings));
        // Codex trusts a project there, but none of its hooks.
        QVERIFY(TestPaths::writeFile(h.home.path() + u"/.codex/config.toml"_s,
                                     "[projects.\"/work\"]\ntrust_level = \"trusted\"\n"));
        QVERIFY(h.start());
        QQuickWindow *sheet = showSheet(h);
        QVERIFY(sheet);
        const auto item = [&](const QString &name) { return h.find(name, sheet->contentItem()); };
        AppHarness::click(item(agent + u"Tab"_s));
        for (const QString &button : clicks)
            AppHarness::click(item(button));
        QCOMPARE(item(u"configurationText"_s)->property("text").toString(),
                 HookConfiguration::hooksConfiguration(HookConfiguration::installPrefix(),
                                                       PermissionHold::defaultMinutes, named));
        const QString stateText = item(u"installState"_s)->property("text").toString();
        QVERIFY2(stateText.startsWith(state), qPrintable(stateText));
        QTEST(item(u"installResult"_s)->property("text").toString(), "result");
        QCOMPARE(item(u"installButton"_s)->isEnabled(), canInstall);
        QCOMPARE(item(u"removeButton"_s)->isEnabled(), canRemove);
        QCOMPARE(HookInstaller::inspectFile(path, HookConfiguration::installPrefix(),
                                            PermissionHold::defaultMinutes, named)
                         .state == HookInstaller::State::Installed,
                 !canInstall && canRemove);
        if (named != Agent::claudeCode)
            QVERIFY(!QFile::exists(h.home.path() + u"/.claude/settings.json"_s));
    }
};

QTEST_MAIN(TestSetupSheet)
#include "tst_setupsheet.moc"
