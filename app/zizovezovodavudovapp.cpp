#include "zizovezovodavudovapp.h"

#include "defaultsstore.h"
#include "desktopnotifier.h"
#include "iconprovider.h"
#include "instancelistmodel.h"
#include "instancemanager.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"
#include "projectnamesmodel.h"
#include "traystatus.h"
#include "uibridge.h"
#include "updatercontroller.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QQuickWindow>
#include <QSystemTrayIcon>

namespace {

// Notification identifiers start with the session's pid ("<pid>-stop-<time>").
qint64 pidOfNotification(const QString &identifier)
{
    qsizetype digits = identifier.startsWith(u'-') ? 1 : 0;
    while (digits < identifier.size() && identifier.at(digits).isDigit())
        ++digits;
    return identifier.left(digits).toLongLong();
}

} // namespace

ZizoveZovoDavudovApp::ZizoveZovoDavudovApp(QObject *parent) : QObject(parent) {}

ZizoveZovoDavudovApp::~ZizoveZovoDavudovApp() = default;

bool ZizoveZovoDavudovApp::start()
{
    m_defaults = std::make_unique<DefaultsStore>();
    m_notifier = std::make_unique<DesktopNotifier>();
    m_instanceManager = std::make_unique<InstanceManager>(*m_defaults, *m_notifier);

    m_updaterController = std::make_unique<UpdaterController>(*m_defaults);
    const auto open = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    connect(m_updaterController.get(), &UpdaterController::downloadRequested, this, open);
    connect(m_updaterController.get(), &UpdaterController::releaseNotesRequested, this, open);

    m_instances = std::make_unique<InstanceListModel>(m_instanceManager.get());
    m_projectNames = std::make_unique<ProjectNamesModel>(m_instanceManager.get());
    m_preferences = std::make_unique<Preferences>(*m_defaults);
    m_notificationSettings = std::make_unique<NotificationSettingsLauncher>();
    m_bridge = std::make_unique<UiBridge>(UiBridge::Parts{
        m_instanceManager.get(), m_instances.get(), m_projectNames.get(), m_preferences.get(),
        m_notificationSettings.get(), m_updaterController.get()});

    connect(m_bridge.get(), &UiBridge::mainWindowRequested, this, [this] { showMainWindow(); });
    connect(m_notifier.get(), &DesktopNotifier::activated, this,
            &ZizoveZovoDavudovApp::notificationActivated);

    m_engine.addImageProvider(QStringLiteral("icon"), new TintedIconProvider);
    m_engine.load(QUrl(QStringLiteral("qrc:/Tolvo/Main.qml")));
    if (!mainWindow())
        return false;
    mainWindow()->installEventFilter(this);
    // Closing the main window decides alone whether Tolvo ends (see eventFilter).
    QApplication::setQuitOnLastWindowClosed(false);
    setUpTrayIcon();
    return true;
}

void ZizoveZovoDavudovApp::showMainWindow(const QVariantMap &platformData)
{
    QQuickWindow *window = mainWindow();
    if (!window)
        return;
    // Wayland lets a window take the focus only with the token of the launch
    // that asked for it; the platform plugin reads it from here.
    const QString token = platformData.value(QStringLiteral("activation-token")).toString();
    if (!token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    if (window->visibility() == QWindow::Minimized)
        window->showNormal();
    else
        window->show();
    window->raise();
    window->requestActivate();
}

void ZizoveZovoDavudovApp::revealInstance(const QString &instanceId)
{
    showMainWindow();
    Q_EMIT m_bridge->revealInstance(instanceId);
}

void ZizoveZovoDavudovApp::notificationActivated(const QString &identifier)
{
    const qint64 pid = pidOfNotification(identifier);
    for (const ClaudeCodeInstance &instance : m_instanceManager->instances()) {
        if (instance.pid == pid) {
            revealInstance(instance.id);
            return;
        }
    }
    // The session is gone from the list; the window is still where to look.
    showMainWindow();
}

bool ZizoveZovoDavudovApp::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Close || watched != mainWindow())
        return QObject::eventFilter(watched, event);
    if (m_tray && QSystemTrayIcon::isSystemTrayAvailable()) {
        // Hidden, not destroyed: monitoring and the window's state go on.
        event->ignore();
        mainWindow()->hide();
        return true;
    }
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    return false;
}

QQuickWindow *ZizoveZovoDavudovApp::mainWindow() const
{
    const auto roots = m_engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

// Where the desktop has a tray, Tolvo keeps watching with its window closed.
void ZizoveZovoDavudovApp::setUpTrayIcon()
{
    QPointer<QQuickWindow> window = mainWindow();
    const auto show = [this] { showMainWindow(); };
    m_trayMenu = std::make_unique<QMenu>();
    QMenu *menu = m_trayMenu.get();
    menu->addAction(QStringLiteral("Show Tolvo"), this, show);
    menu->addAction(QStringLiteral("Settings…"), this, [window] {
        if (window)
            QMetaObject::invokeMethod(window, "showSettings");
    });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = std::make_unique<QSystemTrayIcon>();
    updateTrayIcon();
    for (const auto signal : {&InstanceManager::instanceAdded, &InstanceManager::instanceChanged,
                              &InstanceManager::instanceRemoved})
        connect(m_instanceManager.get(), signal, this, &ZizoveZovoDavudovApp::updateTrayIcon);
    m_tray->setContextMenu(menu);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [window, show](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger || !window)
                    return;
                if (window->isVisible() && window->isActive())
                    window->hide();
                else
                    show();
            });
    m_tray->show();
}

void ZizoveZovoDavudovApp::updateTrayIcon()
{
    const TrayStatus::Counts counts = TrayStatus::count(m_instanceManager->instances());
    m_tray->setToolTip(TrayStatus::toolTip(counts));
    const StatusColor color = TrayStatus::color(counts);
    if (int(color) == m_trayColor)
        return;
    m_trayColor = int(color);
    m_tray->setIcon(TrayStatus::icon(color));
}
