// Arbitrary records handed to a running instance manager, one per line of
// the input, the way the event pipe delivers them.

#include "defaultsstore.h"
#include "fuzzsupport.h"
#include "hookevent.h"
#include "instancemanager.h"
#include "jsonstreamdecoder.h"
#include "notifier.h"

#include <QFile>
#include <QSet>
#include <cstdint>

using Fuzz::check;

namespace {

const QSet<QString> loggedEvents = {QStringLiteral("UserPromptSubmit"),
                                    QStringLiteral("PreToolUse"),
                                    QStringLiteral("PostToolUse"),
                                    QStringLiteral("PreCompact"),
                                    QStringLiteral("Stop"),
                                    QStringLiteral("SubagentStop"),
                                    QStringLiteral("Notification")};

QString defaultsPath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::setUpProcess(argc, argv);
    defaultsPath = Fuzz::setUpHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile::remove(defaultsPath);
    DefaultsStore defaults(defaultsPath);
    // All three kinds of notification on, so that every path that sends runs.
    defaults.setBool(NotificationKeys::idle, true);
    Fuzz::TitleRecorder notifier;

    qsizetype logged = 0;
    // A record may carry a negative pid; its row then counts as a restored
    // placeholder, which the next new process in the same directory replaces.
    bool negativePid = false;
    CustomNames names;
    SavedInstances saved;
    {
        InstanceManager manager(defaults, notifier);
        const QByteArray input =
            QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
        for (const QByteArray &line : input.split('\n')) {
            const auto item = decodeJsonDocument(line);
            if (!item || !std::holds_alternative<QJsonObject>(*item))
                continue;
            const QJsonObject record = std::get<QJsonObject>(*item);
            const auto decoded = decodeHookRecord(record, QCoreApplication::applicationPid());
            if (const auto *event = std::get_if<HookEvent>(&decoded)) {
                logged += loggedEvents.contains(event->event) ? 1 : 0;
                negativePid = negativePid || event->pid < 0;
            }
            manager.didReceiveEvent(record);
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();

        QSet<QString> ids;
        qsizetype logSize = 0;
        for (const ClaudeCodeInstance &instance : manager.instances()) {
            check(!ids.contains(instance.id), "instance ids are unique");
            ids.insert(instance.id);
            logSize += instance.activityLog.size();
            check(instance.unreadEventCount == instance.activityLog.size(),
                  "every logged event is unread");
            check(!instance.currentTool || instance.status != InstanceStatus::ready,
                  "a ready instance runs no tool");
        }
        check(negativePid ? logSize <= logged : logSize == logged,
              "each known event adds one log entry");
        const QList<ClaudeCodeInstance> sorted = manager.sortedInstances();
        check(sorted.size() == manager.instances().size(), "the display order shows every row");
        for (const ClaudeCodeInstance &instance : sorted)
            check(ids.contains(instance.id), "the display order shows only rows");
        for (const QString &title : std::as_const(notifier.titles))
            check(title.startsWith(u"Claude Code - "), "notification titles name the app");
        names = manager.customNames();
        saved = manager.savedInstanceData();
    }

    // What was saved comes back after a restart.
    DefaultsStore reread(defaultsPath);
    InstanceManager restarted(reread, notifier);
    check(restarted.customNames() == names, "custom names survive a restart");
    check(restarted.savedInstanceData() == saved, "saved instances survive a restart");
    check(restarted.instances().size() == saved.size(), "one placeholder per saved instance");
    return 0;
}
