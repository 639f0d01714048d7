// Drives the real application through its states with the real hook pipeline
// and writes a PNG of each: `make screenshots` (Xvfb) writes build/screenshots/.

#include "activitylogmodel.h"
#include "application.h"
#include "colorscheme.h"
#include "hooksession.h"
#include "quietstate.h"
#include "quickitems.h"
#include "remoterelays.h"
#include "sessionlistmodel.h"
#include "settingstable.h"
#include "testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QMenu>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>
#include <QTest>
#include <list>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)
using namespace Qt::StringLiterals;

static QString outputDir;

static void save(const QImage &image, const char *name)
{
    const QString path = outputDir + u'/' + QLatin1String(name) + u".png"_s;
    if (image.isNull() || !image.save(path))
        qFatal("could not write %s", qPrintable(path));
    std::printf("wrote %s\n", qPrintable(path));
}

// The window with this title, once the rows (never moved here, so in list
// order) have made room for an open one.
static QQuickWindow *shoot(const char *title, const char *name)
{
    QQuickWindow *window = nullptr;
    (void)QTest::qWaitFor([&] {
        if (!(window = windowTitled(QString::fromUtf8(title))))
            return false;
        const QList<QQuickItem *> rows = findItems(window->contentItem(), u"sessionRow"_s);
        for (qsizetype i = 1; i < rows.size(); ++i)
            if (rows[i - 1]->mapToScene({0, rows[i - 1]->height()}).y() >
                rows[i]->mapToScene({}).y())
                return false;
        return true;
    });
    QTest::qWait(400); // animations end
    save(window ? window->grabWindow() : QImage(), name);
    return window;
}

static void click(QQuickWindow *window, const QString &name)
{
    QQuickItem *item = window ? findItem(window->contentItem(), name) : nullptr;
    if (!item)
        qFatal("no %s to click", qPrintable(name));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                      item->mapToScene({item->width() / 2, item->height() / 2}).toPoint());
}

// Sessions in /home/user/code/<name>, each sending its fixtures; "<agent>:<name>"
// for another agent than Claude Code.
static void startSessions(std::list<HookSession> &claudes, const QStringList &sessions)
{
    for (const QString &line : sessions) {
        const QStringList session = line.split(u' ');
        const QString agent = session[0].contains(u':') ? session[0].section(u':', 0, 0) : QString();
        const QString name = session[0].section(u':', -1);
        claudes.emplace_back(TestPaths::buildPrefix(), agent);
        for (const QString &input : session.mid(1)) {
            const QJsonObject hook =
                HookSession::fixture((agent.isEmpty() ? input : agent + u'/' + input) + u".json"_s,
                                     u"/home/user/code/"_s + name);
            // A permission request's helper waits for the answer.
            if (input.startsWith(u"PermissionRequest"))
                claudes.back().start(hook);
            else
                claudes.back().send(hook);
        }
    }
}

int main(int argc, char *argv[])
{
    TestHome home;
    QApplication app(argc, argv);
    QQuickStyle::setStyle(u"Fusion"_s);
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"screenshots"_s;
    QDir().mkpath(outputDir);
    Application tolvo;
    if (!tolvo.start())
        return 1;
    QQuickWindow *main = tolvo.mainWindow();
    main->show();                            // the default 550 × 650
    QCursor::setPos(main->screen(), {0, 0}); // hovering shows more
    shoot("Tolvo", "welcome");

    main->setProperty("showingConfigurationWindow", true);
    QQuickWindow *sheet = shoot("Configure Claude Code", "setup-sheet");
    click(sheet, u"installButton"_s);
    shoot("Configure Claude Code", "setup-sheet-installed");
    click(sheet, u"codexTab"_s);
    shoot("Configure Codex", "setup-sheet-codex");
    main->setProperty("showingConfigurationWindow", false);

    // Four sessions: working, asking for permission, failed, done.
    (void)QTest::qWaitFor([&] { return QFile::exists(home.tolvoPath() + u"/tolvo.pid"_s); });
    std::list<HookSession> claudes;
    startSessions(claudes,
                  {u"webshop UserPromptSubmit PreToolUse-Write PostToolUse-Write PreToolUse-Bash"_s,
                   u"payments-api SessionStart-startup UserPromptSubmit PermissionRequest-Bash"_s,
                   u"docs-site UserPromptSubmit StopFailure"_s,
                   u"gemini:blog BeforeAgent BeforeTool-run_shell_command AfterAgent"_s});
    SessionListModel &list = tolvo.sessions();
    if (!QTest::qWaitFor(
            [&] { return list.count() == 4 && list.session(3).activityLog.size() == 3; }))
        qFatal("the sessions did not arrive");
    // What two Claude Code status lines reported: model, context, cost, and the plan's windows.
    {
        QFile pipe(home.pipePath());
        if (!pipe.open(QIODevice::WriteOnly | QIODevice::Append))
            qFatal("the event pipe cannot be written");
        const qint64 inThreeHours = QDateTime::currentSecsSinceEpoch() + 3 * 3600;
        const auto report = [&](const HookSession &session, const QByteArray &usage) {
            pipe.write("\n{\"instance\":\"" + QByteArray::number(session.pid()) +
                       "\",\"event\":\"StatusLine\",\"usage\":" + usage + "}\n");
        };
        report(claudes.front(),
               "{\"model\":\"Opus 5.5\",\"context_percent\":64,\"cost_usd\":1.84,"
               "\"lines_added\":120,\"lines_removed\":31,\"duration_ms\":1560000}");
        report(*std::next(claudes.begin()),
               "{\"model\":\"Sonnet 5\",\"context_percent\":93,\"cost_usd\":0.62,"
               "\"five_hour\":{\"used_percent\":42,\"resets_at\":" +
                   QByteArray::number(inThreeHours) +
                   "},\"seven_day\":{\"used_percent\":18}}");
        pipe.close();
        if (!QTest::qWaitFor([&] { return list.session(1).usage.has_value(); }))
            qFatal("the status lines did not arrive");
    }
    shoot("Tolvo", "list");
    ColorScheme::apply(true);
    shoot("Tolvo", "list-dark");
    ColorScheme::apply(false);

    // The working session's row open, with the raw record of its newest entry.
    list.setData(list.index(0), true, SessionListModel::ExpandedRole);
    auto *log = qobject_cast<ActivityLogModel *>(list.activityLog(0));
    log->setData(log->index(log->count() - 1), true, ActivityLogModel::JsonShownRole);
    shoot("Tolvo", "row-json");
    list.setData(list.index(0), false, SessionListModel::ExpandedRole);

    // Quiet for an hour, and a muted project whose row is open.
    tolvo.quiet().choose(u"hour"_s);
    list.setData(list.index(2), true, SessionListModel::MutedRole);
    list.setData(list.index(2), true, SessionListModel::ExpandedRole);
    shoot("Tolvo", "quiet");
    list.setData(list.index(2), false, SessionListModel::ExpandedRole);
    list.setData(list.index(2), false, SessionListModel::MutedRole);
    tolvo.quiet().choose(u"off"_s);

    // Sessions of other machines: one at work, one whose connection dropped.
    const std::pair<QString, QString> remotes[] = {{u"devbox"_s, u"webshop"_s},
                                                   {u"gpu-box"_s, u"trainer"_s}};
    for (const auto &[host, project] : remotes) {
        HookEvent event = Records::event(4242, u"UserPromptSubmit"_s,
                                         u"/home/user/code/"_s + project, {}, u"Run the tests"_s);
        event.host = host;
        list.handle(event);
    }
    list.hostDisconnected(u"gpu-box"_s);
    shoot("Tolvo", "remote-sessions");
    list.remove(list.rowOfRemote(u"gpu-box"_s, 4242));
    list.remove(list.rowOfRemote(u"devbox"_s, 4242));

    QMetaObject::invokeMethod(main, "showSettings");
    QQuickWindow *settings = shoot("Settings", "settings-general");
    click(settings, u"notificationsTab"_s);
    shoot("Settings", "settings-notifications");
    // A host that cannot be reached from here says why.
    tolvo.remotes().add({u"devbox"_s, u"ssh -o ConnectTimeout=2 devbox.invalid"_s});
    (void)QTest::qWaitFor(
        [&] { return !tolvo.remotes().describe()[0][u"message"].toString().isEmpty(); }, 5000);
    click(settings, u"remoteHostsTab"_s);
    shoot("Settings", "settings-remote-hosts");
    tolvo.remotes().remove(u"devbox"_s);
    // Pushes set up for a server of the user's.
    const std::pair<QString, QVariant> push[] = {
        {Settings::pushEnabled, true},
        {Settings::pushServer, u"https://ntfy.example.org"_s},
        {Settings::pushTopic, u"desk-7f3a9c"_s}};
    for (const auto &[key, value] : push)
        Settings::setValue(tolvo.defaults(), *Settings::find(key), value);
    click(settings, u"pushTab"_s);
    shoot("Settings", "settings-push");
    settings->close();

    // The tray's menu, as its icon shows it.
    QMenu *menu = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        menu = menu ? menu : qobject_cast<QMenu *>(widget);
    if (!menu)
        qFatal("no tray menu");
    menu->popup({100, 100});
    QTest::qWait(300);
    save(menu->grab().toImage(), "tray-menu");
    menu->hide();

    // Thirty sessions: automatic density makes the rows compact.
    QStringList more;
    for (int i = 1; more.size() < 26; ++i)
        more.append(u"service-%1 UserPromptSubmit%2"_s.arg(i).arg(i % 3 ? u" Stop"_s : QString()));
    startSessions(claudes, more);
    if (!QTest::qWaitFor([&] { return list.count() == 30; }))
        qFatal("the sessions did not arrive");
    shoot("Tolvo", "compact");

    while (list.count() > 0)
        list.remove(0);
    shoot("Tolvo", "empty");
    return 0;
}
