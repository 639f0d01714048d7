// Records handed to a running session list, one per line of the input, the
// way the event pipe delivers them; lines starting with "!" are the user's
// list operations: "!m <from> <to>", "!r <row> <name>", "!c <row>",
// "!d <row>", "!x <row>" (the process went) and "!X" (Remove Exited).

#include "defaultsstore.h"
#include "fuzzsupport.h"
#include "instancemanager.h"
#include "jsonstreamdecoder.h"

#include <QFile>
#include <QSet>
#include <cstdint>

using Fuzz::check;

namespace {

QString config;

// The events that add a log entry.
constexpr HookEventKind logged[] = {HookEventKind::userPromptSubmit, HookEventKind::preToolUse,
                                    HookEventKind::postToolUse,      HookEventKind::stop,
                                    HookEventKind::subagentStop,     HookEventKind::notification,
                                    HookEventKind::preCompact};

QStringList ids(const InstanceManager &list)
{
    QStringList all;
    for (int row = 0; row < list.count(); ++row)
        all.append(list.session(row).id);
    return all;
}

// Carries out one operation on the list and on `order`, the expected ids.
void operate(InstanceManager &list, QStringList &order, const QByteArray &line)
{
    const QList<QByteArray> words = line.mid(2).split(' ');
    const int a = words.value(0).toInt(), b = words.value(1).toInt();
    const bool valid = a >= 0 && a < order.size();
    switch (line.at(1)) {
    case 'm':
        list.move(a, b);
        if (valid && b >= 0 && b < order.size())
            order.move(a, b);
        break;
    case 'r': {
        const QString name = QString::fromUtf8(line.mid(line.indexOf(' ', 3) + 1));
        list.rename(a, name);
        check(!valid || list.session(a).displayName() ==
                            (name.isEmpty() ? list.session(a).projectName : name),
              "a row shows its new name");
        break;
    }
    case 'c':
        list.clearLog(a);
        check(!valid || list.session(a).activityLog.isEmpty(), "clearing empties the log");
        break;
    case 'd':
        list.remove(a);
        if (valid)
            order.removeAt(a);
        break;
    case 'x':
        list.markExited(a);
        break;
    case 'X':
        for (int row = list.count() - 1; row >= 0; --row)
            if (list.session(row).exited)
                order.removeAt(row);
        list.removeExited();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    config = Fuzz::setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile::remove(config + QStringLiteral("/sessions.json"));
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    auto store = std::make_unique<SessionStore>(config + QStringLiteral("/sessions.json"));
    auto list = std::make_unique<InstanceManager>(*store);
    list->setPreferences([] { return NotificationPolicy::Preferences{true, true, true}; });
    QObject::connect(list.get(), &InstanceManager::notificationRequested,
                     [](const InstanceManager::Notification &n) {
                         check(n.title.startsWith(u"Claude Code - "), "titles name the app");
                     });
    QStringList order;
    for (const QByteArray &line : input.split('\n')) {
        if (line.startsWith('!') && line.size() > 1) {
            operate(*list, order, line);
        } else if (const auto item = decodeJsonDocument(line)) {
            const auto *record = std::get_if<JsonRecord>(&*item);
            const auto decoded = record ? decodeHookRecord(record->object, record->bytes, 4242)
                                        : HookRecordRejected{};
            const auto *event = std::get_if<HookEvent>(&decoded);
            if (!event)
                continue;
            const int row = list->rowOfPid(event->pid);
            const qsizetype before = row < 0 ? 0 : list->session(row).activityLog.size();
            list->handle(*event);
            if (list->count() > order.size())
                order.append(list->session(list->count() - 1).id);
            const ClaudeCodeInstance &s = list->session(list->rowOfPid(event->pid));
            const bool adds = std::count(std::begin(logged), std::end(logged), event->kind);
            check(s.activityLog.size() == qMin(before + adds, ClaudeCodeInstance::logLimit),
                  "each logged event adds one entry");
            check(!s.currentTool || s.status != InstanceStatus::ready,
                  "a ready session runs no tool");
        }
        check(ids(*list) == order, "rows come at the end and move only when asked");
        check(store->order() == order, "the order is saved as shown");
    }

    // What was saved comes back after a restart.
    const CustomNames names = store->customNames();
    const SavedInstances saved = store->savedInstances();
    list.reset();
    store.reset();
    SessionStore reread(config + QStringLiteral("/sessions.json"));
    check(reread.customNames() == names && reread.order() == order, "names and order survive");
    check(reread.savedInstances() == saved, "saved sessions survive");
    InstanceManager restarted(reread);
    check(restarted.count() == qMin(saved.size(), InstanceManager::restoredLimit),
          "one placeholder per saved session");
    return 0;
}
