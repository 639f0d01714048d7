// What a previous run left in the defaults file: the three stored JSON
// values, read directly and through the INI file they live in.

#include "defaultsstore.h"
#include "fuzzsupport.h"
#include "instancemanager.h"
#include "notifier.h"
#include "savedinstancedata.h"

#include <QFile>
#include <QSet>
#include <cstdint>

using Fuzz::check;

namespace {

QString defaultsPath;

// Whatever decodes is written back unchanged.
bool decodeAll(const QByteArray &bytes)
{
    bool any = false;
    if (const auto names = decodeCustomNames(bytes)) {
        check(decodeCustomNames(encodeCustomNames(*names)) == names, "custom names round trip");
        any = true;
    }
    if (const auto order = decodeInstanceOrder(bytes)) {
        check(decodeInstanceOrder(encodeInstanceOrder(*order)) == order, "the order round trips");
        any = true;
    }
    if (const auto records = decodeSavedInstances(bytes)) {
        check(decodeSavedInstances(encodeSavedInstances(*records)) == records,
              "saved instances round trip");
        any = true;
    }
    return any;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::setUpProcess(argc, argv);
    defaultsPath = Fuzz::setUpHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    decodeAll(input);

    // The same bytes as the defaults file itself.
    QFile file(defaultsPath);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the defaults file opens");
    file.write(input);
    file.close();

    DefaultsStore defaults(defaultsPath);
    bool stored = false;
    for (const QString &key : {InstanceManager::customNamesKey, InstanceManager::instanceOrderKey,
                               InstanceManager::savedInstancesKey}) {
        if (const auto value = defaults.data(key))
            stored = decodeAll(*value) || stored;
    }
    for (const QString &key : {NotificationKeys::idle, NotificationKeys::permissionRequired,
                               NotificationKeys::taskComplete})
        defaults.boolValue(key);
    if (!stored)
        return 0;

    // A launch over that file: one placeholder per saved instance, each shown.
    Fuzz::TitleRecorder notifier;
    InstanceManager manager(defaults, notifier);
    check(manager.instances().size() == manager.savedInstanceData().size(),
          "one placeholder per saved instance");
    QSet<QString> ids;
    for (const ClaudeCodeInstance &instance : manager.instances()) {
        check(instance.pid < 0, "placeholders have no process");
        check(manager.instanceOrder().contains(instance.id), "placeholders are in the order");
        ids.insert(instance.id);
    }
    check(manager.sortedInstances().size() == manager.instances().size(),
          "the display order shows every row");
    return 0;
}
