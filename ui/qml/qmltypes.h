#pragma once

// The C++ types the QML files use, made known to the Tolvo module.

#include "activitylogmodel.h"
#include "animatedchevron.h"
#include "instancelistmodel.h"
#include "instancemanager.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"
#include "projectnamesmodel.h"

#include <QQmlEngine>

struct AnimatedChevronForeign
{
    Q_GADGET
    QML_FOREIGN(AnimatedChevron)
    QML_NAMED_ELEMENT(AnimatedChevron)
};

struct InstanceManagerForeign
{
    Q_GADGET
    QML_FOREIGN(InstanceManager)
    QML_NAMED_ELEMENT(InstanceManager)
    QML_UNCREATABLE("The application owns the one instance manager.")
};

struct InstanceListModelForeign
{
    Q_GADGET
    QML_FOREIGN(InstanceListModel)
    QML_NAMED_ELEMENT(InstanceListModel)
    QML_UNCREATABLE("Reached through App.instances.")
};

struct ActivityLogModelForeign
{
    Q_GADGET
    QML_FOREIGN(ActivityLogModel)
    QML_NAMED_ELEMENT(ActivityLogModel)
    QML_UNCREATABLE("Reached through App.instances.activityLog().")
};

struct ProjectNamesModelForeign
{
    Q_GADGET
    QML_FOREIGN(ProjectNamesModel)
    QML_NAMED_ELEMENT(ProjectNamesModel)
    QML_UNCREATABLE("Reached through App.projectNames.")
};

struct PreferencesForeign
{
    Q_GADGET
    QML_FOREIGN(Preferences)
    QML_NAMED_ELEMENT(Preferences)
    QML_UNCREATABLE("Reached through App.preferences.")
};

struct NotificationSettingsLauncherForeign
{
    Q_GADGET
    QML_FOREIGN(NotificationSettingsLauncher)
    QML_NAMED_ELEMENT(NotificationSettingsLauncher)
    QML_UNCREATABLE("Reached through App.notificationSettings.")
};
