// Drives the real application into each of its states through the real hook
// pipeline and writes a PNG of each. Run it under a virtual display:
//   make screenshots   (writes build/screenshots/)

#include "colorscheme.h"
#include "hooksession.h"
#include "instancemanager.h"
#include "quickitems.h"
#include "testsupport.h"
#include "zizovezovodavudovapp.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QQmlEngineExtensionPlugin>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)

namespace {

QString outputDir;

void settle(int ms = 400)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool waitFor(const std::function<bool()> &condition, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void shoot(QQuickWindow *window, const QString &name)
{
    settle();
    const QString path = outputDir + u'/' + name + QStringLiteral(".png");
    if (!window || !window->grabWindow().save(path))
        qFatal("could not write %s", qPrintable(path));
    std::printf("wrote %s\n", qPrintable(path));
}

QQuickWindow *windowTitled(const QString &title)
{
    for (QWindow *w : QGuiApplication::topLevelWindows()) {
        if (w->isVisible() && w->title() == title)
            return qobject_cast<QQuickWindow *>(w);
    }
    return nullptr;
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
    waitFor([&] { return (sheet = windowTitled(QStringLiteral("Configure Claude Code"))); });
    shoot(sheet, QStringLiteral("setup-sheet"));
    if (auto *copy = findItem(sheet->contentItem(), QStringLiteral("copyButton")))
        QMetaObject::invokeMethod(copy, "clicked");
    shoot(sheet, QStringLiteral("copied-alert"));
    root->setProperty("showingConfigurationWindow", false);
    settle();

    // Three sessions: one working, one waiting for permission, one done.
    const QString prefix = TestPaths::buildPrefix();
    HookSession webshop(prefix), api(prefix), docs(prefix);
    const QString shopDir = QStringLiteral("/home/user/code/webshop");
    webshop.send(HookSession::fixture(QStringLiteral("UserPromptSubmit.json"), shopDir));
    webshop.send(HookSession::fixture(QStringLiteral("PreToolUse-Write.json"), shopDir));
    webshop.send(HookSession::fixture(QStringLiteral("PostToolUse-Write.json"), shopDir));
    webshop.send(HookSession::fixture(QStringLiteral("PreToolUse-Bash.json"), shopDir));
    const QString apiDir = QStringLiteral("/home/user/code/payments-api");
    api.send(HookSession::fixture(QStringLiteral("UserPromptSubmit.json"), apiDir));
    api.send(HookSession::fixture(QStringLiteral("PreToolUse-Bash.json"), apiDir));
    api.send(HookSession::fixture(QStringLiteral("Notification-permission_prompt.json"), apiDir));
    const QString docsDir = QStringLiteral("/home/user/code/docs-site");
    docs.send(HookSession::fixture(QStringLiteral("UserPromptSubmit.json"), docsDir));
    docs.send(HookSession::fixture(QStringLiteral("Stop.json"), docsDir));
    InstanceManager &manager = tolvo.instanceManager();
    if (!waitFor([&] { return manager.instanceCount() == 3 && manager.instances().at(2).activityLog.size() == 2; }))
        qFatal("the sessions did not arrive");

    // Open the working session's row and the raw JSON of its newest entry.
    const QString shopId = manager.instances().first().id;
    auto *slot = findItem(main->contentItem(), QStringLiteral("slot-") + shopId);
    auto *row = slot ? findItem(slot, QStringLiteral("instanceRow")) : nullptr;
    if (!row)
        qFatal("no row for the webshop session");
    QMetaObject::invokeMethod(row, "toggleExpanded");
    settle();
    const auto entries = findItems(row, QStringLiteral("logEntry"));
    if (!entries.isEmpty())
        entries.last()->setProperty("showJSON", true);
    shoot(main, QStringLiteral("list"));

    ColorScheme::apply(true);
    shoot(main, QStringLiteral("list-dark"));
    ColorScheme::apply(false);

    // Settings, both tabs.
    QMetaObject::invokeMethod(root, "showSettings");
    QQuickWindow *settings = nullptr;
    waitFor([&] { return (settings = windowTitled(QStringLiteral("Settings"))); });
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
