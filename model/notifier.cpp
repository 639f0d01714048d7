#include "notifier.h"

#include "defaultsstore.h"

void registerNotificationDefaults(DefaultsStore &defaults)
{
    defaults.registerDefaults({{NotificationKeys::permissionRequired, true},
                               {NotificationKeys::taskComplete, true},
                               {NotificationKeys::idle, false}});
}
