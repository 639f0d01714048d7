#pragma once

#include "defaultsstore.h"
#include "instancemanager.h"
#include "testsupport.h"

#include <QCoreApplication>

// A real instance manager in a throwaway home, fed hook records as the event pipe hands them over.
struct ManagerHarness
{
    TestHome home;
    ConsoleCapture console;
    DefaultsStore defaults{home.defaultsPath()};
    RecordingNotifier notifier;
    InstanceManager manager{defaults, notifier};

    void send(qint64 pid, QJsonObject record)
    {
        record.insert("instance", QString::number(pid));
        manager.didReceiveEvent(record);
        QCoreApplication::processEvents(); // the manager applies it on a later turn
    }

    QStringList ids() const // in display order
    {
        QStringList ids;
        for (const ClaudeCodeInstance &instance : manager.sortedInstances())
            ids.append(instance.id);
        return ids;
    }

    QStringList start(const QStringList &directories) // pids 101, 102, ..., prompted "hello"
    {
        for (int i = 0; i < directories.size(); ++i)
            send(101 + i, {{"event", "UserPromptSubmit"},
                           {"details", "hello"},
                           {"working_directory", directories.at(i)}});
        return ids();
    }
};
