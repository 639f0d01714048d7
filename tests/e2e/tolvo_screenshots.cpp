// Drives the real application into each of its states through the real hook
// pipeline and writes a PNG of each. Run it under a virtual display:
//   make screenshots   (writes build/screenshots/)

#include "colorscheme.h"
#include "hooksession.h"
#include "instancemanager.h"
#include "quickitems.h"
#include "testsupport.h"
#include "traystatus.h"
#include "zizovezovodavudovapp.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QQmlEngineExtensionPlugin>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTest>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)

namespace {

QString outputDir;

void shoot(QQuickWindow *window, const QString &name)
{
    QTest::qWait(400);
    const QString path = outputDir + u'/' + name + QStringLiteral(".png");
    if (!window || !window->grabWindow().save(path))
        qFatal("could not write %s", qPrintable(path));
    std::printf("wrote %s\n", qPrintable(path));
}

void saveImage(const QImage &image, const QString &name)
{
    const QString path = outputDir + u'/' + name + QStringLiteral(".png");
    if (!image.save(path))
        qFatal("could not write %s", qPrintable(path));
    std::printf("wrote %s\n", qPrintable(path));
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

    ZizoveZovoDavudovApp tolvo;
    if (!tolvo.start())
        return 1;
    QQuickWindow *main = tolvo.mainWindow();
    QObject *root = main;
    main->show();
    shoot(main, QStringLiteral("welcome"));

    // The setup sheet, and the alert after copying.
    root->setProperty("showingConfigurationWindow", true);
    QQuickWindow *sheet = nullptr;
    (void)QTest::qWaitFor(
        [&] { return (sheet = windowTitled(QStringLiteral("Configure Claude Code"))); });
    shoot(sheet, QStringLiteral("setup-sheet"));
    if (auto *copy = findItem(sheet->contentItem(), QStringLiteral("copyButton")))
        QMetaObject::invokeMethod(copy, "clicked");
    shoot(sheet, QStringLiteral("copied-alert"));
    sheet->setProperty("showCopiedAlert", false);
    QTest::qWait(400);
    if (auto *install = findItem(sheet->contentItem(), QStringLiteral("installButton")))
        QMetaObject::invokeMethod(install, "clicked");
    shoot(sheet, QStringLiteral("setup-sheet-installed"));
    root->setProperty("showingConfigurationWindow", false);
    QTest::qWait(400);

    // Three sessions: one working, one waiting for permission, one done.
    const QString prefix = TestPaths::buildPrefix();
    HookSession webshop(prefix), api(prefix), docs(prefix);
    const struct
    {
        HookSession &session;
        const char *project;
        QStringList inputs;
    } turns[] = {
        {webshop,
         "webshop",
         {"UserPromptSubmit", "PreToolUse-Write", "PostToolUse-Write", "PreToolUse-Bash"}},
        {api,
         "payments-api",
         {"UserPromptSubmit", "PreToolUse-Bash", "Notification-permission_prompt"}},
        {docs, "docs-site", {"UserPromptSubmit", "Stop"}},
    };
    for (const auto &turn : turns)
        for (const QString &input : turn.inputs)
            turn.session.send(HookSession::fixture(input + QStringLiteral(".json"),
                                                   QStringLiteral("/home/user/code/") +
                                                       QLatin1String(turn.project)));
    InstanceManager &manager = tolvo.instanceManager();
    if (!QTest::qWaitFor([&] {
            return manager.instanceCount() == 3 &&
                   manager.instances().at(2).activityLog.size() == 2;
        }))
        qFatal("the sessions did not arrive");

    // Open the working session's row and the raw JSON of its newest entry.
    QQuickItem *row = nullptr; // the first row is the webshop's
    (void)QTest::qWaitFor(
        [&] { return (row = findItem(main->contentItem(), QStringLiteral("instanceRow"))); });
    if (!row || row->property("displayName").toString() != u"webshop")
        qFatal("no row for the webshop session");
    QMetaObject::invokeMethod(row, "toggleExpanded");
    QTest::qWait(400);
    const auto entries = findItems(row, QStringLiteral("logEntry"));
    if (!entries.isEmpty())
        entries.last()->setProperty("showJSON", true);
    shoot(main, QStringLiteral("list"));

    // The tray's menu, and its icon in each state (worst first).
    QMenu *trayMenu = tolvo.trayMenu();
    trayMenu->popup(main->position() + QPoint(40, 40));
    QTest::qWait(400);
    saveImage(trayMenu->grab().toImage(), QStringLiteral("tray-menu"));
    trayMenu->hide();
    QImage icons(3 * 72, 72, QImage::Format_ARGB32_Premultiplied);
    icons.fill(Qt::transparent);
    {
        QPainter painter(&icons);
        int x = 4;
        for (const StatusColor color : {StatusColor::red, StatusColor::yellow, StatusColor::gray}) {
            painter.drawPixmap(x, 4, TrayStatus::icon(color).pixmap(64, 64));
            x += 72;
        }
    }
    saveImage(icons, QStringLiteral("tray-icons"));

    ColorScheme::apply(true);
    shoot(main, QStringLiteral("list-dark"));
    ColorScheme::apply(false);

    // Settings, both tabs.
    QMetaObject::invokeMethod(root, "showSettings");
    QQuickWindow *settings = nullptr;
    (void)QTest::qWaitFor([&] { return (settings = windowTitled(QStringLiteral("Settings"))); });
    shoot(settings, QStringLiteral("settings-general"));
    if (auto *tabs = findItem(settings->contentItem(), QStringLiteral("settingsTabs")))
        tabs->setProperty("currentIndex", 1);
    shoot(settings, QStringLiteral("settings-notifications"));
    settings->close();

    // Removing every instance leaves the empty state.
    for (const ClaudeCodeInstance &instance : manager.sortedInstances())
        manager.removeInstance(instance.id);
    shoot(main, QStringLiteral("empty"));
    return 0;
}
