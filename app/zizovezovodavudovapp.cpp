#include "zizovezovodavudovapp.h"

#include "defaultsstore.h"
#include "desktopnotifier.h"
#include "iconprovider.h"
#include "instancelistmodel.h"
#include "instancemanager.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"
#include "projectnamesmodel.h"
#include "uibridge.h"
#include "updatercontroller.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QQuickWindow>
#include <QSystemTrayIcon>

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

    m_engine.addImageProvider(QStringLiteral("icon"), new TintedIconProvider);
    m_engine.load(QUrl(QStringLiteral("qrc:/Tolvo/Main.qml")));
    if (!mainWindow())
        return false;
    setUpTrayIcon();
    return true;
}

QQuickWindow *ZizoveZovoDavudovApp::mainWindow() const
{
    const auto roots = m_engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

// Where the desktop has a tray, Tolvo keeps watching with its window closed.
void ZizoveZovoDavudovApp::setUpTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    QApplication::setQuitOnLastWindowClosed(false);

    m_tray = std::make_unique<QSystemTrayIcon>(QApplication::windowIcon());
    m_tray->setToolTip(QStringLiteral("Tolvo"));
    auto *menu = new QMenu;
    connect(m_tray.get(), &QObject::destroyed, menu, &QObject::deleteLater);
    QPointer<QQuickWindow> window = mainWindow();
    const auto show = [window] {
        if (!window)
            return;
        window->show();
        window->raise();
        window->requestActivate();
    };
    menu->addAction(QStringLiteral("Show Tolvo"), this, show);
    menu->addAction(QStringLiteral("Settings…"), this, [window] {
        if (window)
            QMetaObject::invokeMethod(window, "showSettings");
    });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);
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
