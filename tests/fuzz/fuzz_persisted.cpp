// What an earlier run left behind, read at start: the input as the sessions
// file, then as the tolvo.ini whose keys older versions kept the sessions in.

#include "defaultsstore.h"
#include "fuzzsupport.h"
#include "sessionlistmodel.h"

#include <QFile>
#include <cstdint>

using Fuzz::check;

static QString config;

// A start over the files as they are, that saves before it quits: what it
// held then. The first save moves the older keys into the sessions file.
static std::tuple<CustomNames, QStringList, SavedSessions> run()
{
    DefaultsStore defaults(config + QStringLiteral("/tolvo.ini"));
    SessionStore store(config + QStringLiteral("/sessions.json"), &defaults);
    SessionListModel list(store);
    check(list.count() == qMin(store.savedSessions().size(), SessionListModel::restoredLimit),
          "one placeholder per saved session, up to the limit");
    for (int row = 0; row < list.count(); ++row)
        check(list.session(row).isPlaceholder(), "placeholders have no process");
    store.replaceCustomNames(store.customNames());
    check(store.flush() && !defaults.contains(QStringLiteral("com.tolvo.savedSessions")),
          "the sessions file is written, the older keys gone");
    return {store.customNames(), store.order(), store.savedSessions()};
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    config = Fuzz::setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const char *name : {"/sessions.json", "/tolvo.ini"}) {
        QFile::remove(config + QStringLiteral("/sessions.json"));
        QFile file(config + QLatin1StringView(name));
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                  file.write(input) == input.size(),
              "the file is written");
        file.close();
        const auto saved = run();
        check(run() == saved, "what was saved comes back after a restart");
    }
    return 0;
}
