// Drives the real application through its states with the real hook pipeline
// and writes a PNG of each. Run under a virtual display: `make screenshots`
// writes build/screenshots/.

#include "activitylogmodel.h"
#include "application.h"
#include "colorscheme.h"
#include "hooksession.h"
#include "instancemanager.h"
#include "quickitems.h"
#include "testsupport.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QMenu>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>
#include <QTest>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)

namespace {

QString outputDir;

void save(const QImage &image, const QString &name)
{
    const QString path = outputDir + u'/' + name + QStringLiteral(".png");
    if (!image.save(path))
        qFatal("could not write %s", qPrintable(path));
    std::printf("wrote %s\n", qPrintable(path));
}

// Once the rows have made room for an open one, and animations have ended.
void shoot(QQuickWindow *window, const QString &name)
{
    if (!window)
        qFatal("no window for %s", qPrintable(name));
    (void)QTest::qWaitFor([window] {
        QList<QQuickItem *> rows = findItems(window->contentItem(), QStringLiteral("instanceRow"));
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({}).y() < b->mapToScene({}).y();
        });
        for (qsizetype i = 1; i < rows.size(); ++i)
            if (rows[i - 1]->mapToScene({0, rows[i - 1]->height()}).y() >
                rows[i]->mapToScene({}).y())
                return false;
        return true;
    });
    QTest::qWait(400);
    save(window->grabWindow(), name);
}

QQuickWindow *shownWindow(const QString &title)
{
    QQuickWindow *window = nullptr;
    (void)QTest::qWaitFor([&] { return (window = windowTitled(title)); });
    return window;
}

} // namespace

int main(int argc, char *argv[])
{
    TestHome home;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvo"));
    QApplication::setDesktopFileName(QStringLiteral(TOLVO_APP_ID));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outputDir);

    Application tolvo;
    if (!tolvo.start())
        return 1;
    QQuickWindow *main = tolvo.mainWindow();
    main->resize(550, 860); // room for four rows, one of them open
    main->show();
    QCursor::setPos(main->screen(), {0, 0}); // hovering shows more
    shoot(main, QStringLiteral("welcome"));
    main->setProperty("showingConfigurationWindow", true);
    shoot(shownWindow(QStringLiteral("Configure Claude Code")), QStringLiteral("setup-sheet"));
    main->setProperty("showingConfigurationWindow", false);

    // Four sessions: working, asking for permission, failed, done.
    const struct
    {
        const char *project;
        QStringList inputs;
    } sessions[] = {
        {"webshop",
         {"UserPromptSubmit", "PreToolUse-Write", "PostToolUse-Write", "PreToolUse-Bash"}},
        {"payments-api", {"SessionStart-startup", "UserPromptSubmit", "PermissionRequest-Bash"}},
        {"docs-site", {"UserPromptSubmit", "StopFailure"}},
        {"blog", {"UserPromptSubmit", "PreToolUse-Bash", "PostToolUse-Bash", "Stop"}},
    };
    if (!QTest::qWaitFor(
            [&] { return QFile::exists(home.tolvoPath() + QStringLiteral("/tolvo.pid")); }))
        qFatal("Tolvo does not listen");
    std::vector<std::unique_ptr<HookSession>> claudes;
    int events = 0;
    for (const auto &session : sessions) {
        claudes.push_back(std::make_unique<HookSession>(TestPaths::buildPrefix()));
        events += int(session.inputs.size());
        for (const QString &input : session.inputs)
            claudes.back()->send(HookSession::fixture(input + QStringLiteral(".json"),
                                                      QStringLiteral("/home/user/code/") +
                                                          QLatin1String(session.project)));
    }
    InstanceManager &list = tolvo.sessions();
    if (!QTest::qWaitFor([&] {
            int logged = 0;
            for (int row = 0; row < list.count(); ++row)
                logged += int(list.session(row).activityLog.size());
            return logged == events;
        }))
        qFatal("the sessions did not arrive");

    // The working session's row open, with the raw record of its newest entry.
    list.setData(list.index(0), true, InstanceManager::ExpandedRole);
    auto *log = qobject_cast<ActivityLogModel *>(list.activityLog(0));
    log->setData(log->index(log->count() - 1), true, ActivityLogModel::JsonShownRole);
    shoot(main, QStringLiteral("list"));
    ColorScheme::apply(true);
    shoot(main, QStringLiteral("list-dark"));
    ColorScheme::apply(false);

    QMenu *trayMenu = tolvo.trayMenu();
    trayMenu->popup(main->position() + QPoint(40, 40));
    QTest::qWait(400);
    save(trayMenu->grab().toImage(), QStringLiteral("tray-menu"));
    trayMenu->hide();

    QMetaObject::invokeMethod(main, "showSettings");
    QQuickWindow *settings = shownWindow(QStringLiteral("Settings"));
    shoot(settings, QStringLiteral("settings-general"));
    findItem(settings->contentItem(), QStringLiteral("settingsTabs"))
        ->setProperty("currentIndex", 1);
    shoot(settings, QStringLiteral("settings-notifications"));
    settings->close();

    while (list.count() > 0)
        list.remove(0);
    shoot(main, QStringLiteral("empty"));
    return 0;
}
