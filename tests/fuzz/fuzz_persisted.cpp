// What an earlier run left behind, read at start: the input as the sessions
// file, then as the tolvo.ini whose keys older versions kept the sessions in.

#include "defaultsstore.h"
#include "fuzzsupport.h"
#include "instancemanager.h"

#include <QFile>
#include <cstdint>

using Fuzz::check;

namespace {

QString config;

struct Saved
{
    CustomNames names;
    QStringList order;
    SavedInstances records;
    bool operator==(const Saved &) const = default;
};

// A start over the files as they are; the list is saved before it quits.
Saved run(const QStringList &legacyKeys = {})
{
    DefaultsStore defaults(config + QStringLiteral("/tolvo.ini"));
    SessionStore store(config + QStringLiteral("/sessions.json"), &defaults);
    InstanceManager list(store);
    check(list.count() == qMin(store.savedInstances().size(), InstanceManager::restoredLimit),
          "one placeholder per saved session, up to the limit");
    for (int row = 0; row < list.count(); ++row)
        check(list.session(row).isPlaceholder(), "placeholders have no process");
    store.replaceCustomNames(store.customNames());
    check(store.flush(), "the sessions file is written");
    for (const QString &key : legacyKeys)
        check(!defaults.contains(key), "the first save moves the older keys");
    return {store.customNames(), store.order(), store.savedInstances()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    config = Fuzz::setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const bool legacy : {false, true}) {
        QFile::remove(config + QStringLiteral("/sessions.json"));
        QFile written(config +
                      (legacy ? QStringLiteral("/tolvo.ini") : QStringLiteral("/sessions.json")));
        check(written.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                  written.write(input) == input.size(),
              "the file is written");
        written.close();
        // Whatever the input held, from the first save on what was saved is what is read.
        const Saved first = run(legacy ? QStringList{QStringLiteral("com.tolvo.customProjectNames"),
                                                     QStringLiteral("com.tolvo.instanceOrder"),
                                                     QStringLiteral("com.tolvo.savedInstances")}
                                       : QStringList());
        check(run() == first, "saved sessions survive a restart");
    }
    return 0;
}
