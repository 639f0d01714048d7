// Records handed to a running session list, one a line, as the event pipe
// does; other lines are the user's: "!m <from> <to>", "!r <row> <name>",
// "!c <row>", "!d <row>", "!x <row>" (process gone), "!X" (Remove Exited).

#include "fuzzsupport.h"
#include "sessionlistmodel.h"
#include "jsonstreamdecoder.h"

#include <QFile>
#include <cstdint>

using Fuzz::check;

namespace {

QString file; // the sessions file

// One operation on the list and on `order`, the ids it should show.
void operate(SessionListModel &list, QStringList &order, const QByteArray &line)
{
    const QList<QByteArray> words = line.split(' ');
    const int a = words.value(1).toInt(), b = words.value(2).toInt();
    const bool valid = a >= 0 && a < order.size();
    if (line.startsWith("!m")) {
        list.move(a, b);
        if (valid && b >= 0 && b < order.size())
            order.move(a, b);
    } else if (line.startsWith("!r")) {
        list.rename(a, QString::fromUtf8(words.mid(2).join(' ')));
    } else if (line.startsWith("!c")) {
        list.clearLog(a);
    } else if (line.startsWith("!d")) {
        list.remove(a);
        if (valid)
            order.removeAt(a);
    } else if (line.startsWith("!x")) {
        list.markExited(a);
    } else if (line.startsWith("!X")) {
        for (int row = list.count() - 1; row >= 0; --row)
            if (list.session(row).exited)
                order.removeAt(row);
        list.removeExited();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    file = Fuzz::setUp(argc, argv) + QStringLiteral("/sessions.json");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile::remove(file);
    auto store = std::make_unique<SessionStore>(file);
    auto list = std::make_unique<SessionListModel>(*store);
    list->setPreferences([] { return NotificationPolicy::Preferences{true, true, true}; });
    QStringList order;
    for (const QByteArray &line :
         QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\n')) {
        const auto item = line.startsWith('!') ? std::nullopt : decodeJsonDocument(line);
        const auto *record = item ? std::get_if<JsonRecord>(&*item) : nullptr;
        const auto decoded = decodeHookRecord(record ? record->object : QJsonObject(),
                                              record ? record->bytes : QByteArray(), 4242);
        if (const auto *event = std::get_if<HookEvent>(&decoded)) {
            list->handle(*event);
            if (list->count() > order.size())
                order.append(list->session(list->count() - 1).id);
            const Session &s = list->session(list->rowOfPid(event->pid));
            check(!s.currentTool || s.status != SessionStatus::ready,
                  "a ready session runs no tool");
        } else {
            operate(*list, order, line);
        }
        check(store->order() == order, "rows come last and move when asked; the order is saved");
    }
    // What was saved comes back after a restart.
    const CustomNames names = store->customNames();
    const SavedSessions saved = store->savedSessions();
    list.reset();
    store.reset();
    SessionStore reread(file);
    check(reread.customNames() == names && reread.savedSessions() == saved &&
              reread.order() == order,
          "what was saved comes back after a restart");
    check(SessionListModel(reread).count() == qMin(saved.size(), SessionListModel::restoredLimit),
          "one placeholder per saved session");
    return 0;
}
