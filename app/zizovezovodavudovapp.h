#pragma once

#include <QObject>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <memory>

class DefaultsStore;
class DesktopNotifier;
class InstanceManager;
class InstanceListModel;
class NotificationSettingsLauncher;
class Preferences;
class ProjectNamesModel;
class QQuickWindow;
class QSystemTrayIcon;
class UiBridge;
class UpdaterController;

// The application object: owns the one instance manager and the one updater
// controller for the whole run, and opens the main window.
class ZizoveZovoDavudovApp : public QObject
{
    Q_OBJECT
public:
    explicit ZizoveZovoDavudovApp(QObject *parent = nullptr);
    ~ZizoveZovoDavudovApp() override;

    // Start-up in order: the instance manager (which loads what the last run
    // saved, starts the event pipe and sets up notifications), the updater,
    // then the main window. False when the windows could not be loaded.
    bool start();

    InstanceManager &instanceManager() const { return *m_instanceManager; }
    UpdaterController &updaterController() const { return *m_updaterController; }
    DefaultsStore &defaults() const { return *m_defaults; }
    QQmlApplicationEngine &engine() { return m_engine; }
    QQuickWindow *mainWindow() const;

private:
    void setUpTrayIcon();

    std::unique_ptr<DefaultsStore> m_defaults;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<InstanceManager> m_instanceManager;
    std::unique_ptr<UpdaterController> m_updaterController;
    std::unique_ptr<InstanceListModel> m_instances;
    std::unique_ptr<ProjectNamesModel> m_projectNames;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<NotificationSettingsLauncher> m_notificationSettings;
    std::unique_ptr<UiBridge> m_bridge;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    // Last, so that QML goes before the objects it refers to.
    QQmlApplicationEngine m_engine;
};
