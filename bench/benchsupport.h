#pragma once

// What the benchmark programs share: a scratch home, the engine (event pipe,
// session list and its store, no windows), records as the listener hands
// them up, child processes, and the one output format that
// bench/run-benchmarks.sh collects into a single table.

#include "defaultsstore.h"
#include "hookconfiguration.h"
#include "hookevent.h"
#include "jsonstreamdecoder.h"
#include "namedpipelistener.h"
#include "notificationpolicy.h"
#include "sessionlistmodel.h"
#include "sessionstore.h"
#include "settingstable.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <variant>
#include <vector>

extern char **environ;

namespace Bench {

inline double nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1) + 0.5)];
}

inline double median(const std::vector<double> &values)
{
    return percentile(values, 0.5);
}

// Console lines are part of the cost but not of the output: stdout goes to
// /dev/null and rows go to the original descriptor.
class Report
{
public:
    Report() : m_fd(::dup(STDOUT_FILENO))
    {
        if (!std::freopen("/dev/null", "w", stdout))
            std::perror("/dev/null");
    }
    // One table row: what, the figure, the goal, and whether it is met
    // ("yes", "no", or "" where there is no goal).
    // Under a real-time policy (run-benchmarks.sh repeats some programs with
    // chrt -f) rows say so: their figures leave out the waits for a CPU that
    // other load on the machine causes.
    void row(const char *what, const QByteArray &figure, const char *goal, const char *met) const
    {
        dprintf(m_fd, "| %s%s | %s | %s | %s |\n", what,
                sched_getscheduler(0) == SCHED_FIFO ? ", SCHED_FIFO" : "", figure.constData(), goal,
                met);
    }
    // Where rows go: a child process that reports rows of its own gets it as
    // its standard output.
    int fd() const { return m_fd; }
    // A line of context that the driver passes through.
    void note(const char *format, ...) const __attribute__((format(printf, 2, 3)))
    {
        va_list arguments;
        va_start(arguments, format);
        dprintf(m_fd, "  ");
        vdprintf(m_fd, format, arguments);
        dprintf(m_fd, "\n");
        va_end(arguments);
    }

private:
    int m_fd;
};

inline const char *met(bool ok)
{
    return ok ? "yes" : "no";
}

// A fresh HOME and XDG_CONFIG_HOME, kept until destroyed.
class ScratchHome
{
public:
    ScratchHome()
    {
        // Private, as Tolvo keeps it: the hook writes into nothing else.
        ::mkdir(QFile::encodeName(path() + QStringLiteral("/.tolvo")).constData(), 0700);
        qputenv("HOME", QFile::encodeName(path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path() + QStringLiteral("/.config")));
    }
    QString path() const { return m_dir.path(); }
    QString pidFile() const { return path() + QStringLiteral("/.tolvo/tolvo.pid"); }

    // True once a listener has written its process id ("<pid> <comm>").
    bool waitForListener(qint64 pid) const
    {
        QFile file(pidFile());
        for (int i = 0; i < 1000; ++i) {
            if (file.open(QIODevice::ReadOnly)) {
                const bool ours =
                    file.readAll().simplified().split(' ').value(0).toLongLong() == pid;
                file.close();
                if (ours)
                    return true;
            }
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        return false;
    }

private:
    QTemporaryDir m_dir;
};

// Tolvo without windows, wired as the application wires it: the defaults
// and session stores, the session list (restored from what the store holds)
// and the event pipe, in the current HOME. The pipe listens unless told not to.
struct Engine
{
    explicit Engine(bool listen = true)
        : store(SessionStore::defaultFilePath(), &defaults), manager(store)
    {
        manager.setPreferences([this] { return Settings::notificationPreferences(defaults); });
        QObject::connect(&listener, &NamedPipeListener::eventReceived, &manager,
                         &SessionListModel::handle);
        if (listen)
            listener.start();
    }

    DefaultsStore defaults;
    SessionStore store;
    SessionListModel manager;
    NamedPipeListener listener; // first to go: it stops before the list does
};

// One record as the listener hands it up: framed by the stream decoder as one
// opening of the pipe delivers it, then validated. `instance` stands in for
// a literal $PPID, as this process would for the listener.
inline HookEvent decode(const QByteArray &record)
{
    JsonStreamDecoder decoder;
    QList<JsonStreamItem> items = decoder.feed(record);
    items += decoder.finish();
    for (const JsonStreamItem &item : std::as_const(items)) {
        if (const auto *json = std::get_if<JsonRecord>(&item)) {
            auto decoded =
                decodeHookRecord(json->object, json->bytes, QCoreApplication::applicationPid());
            if (auto *event = std::get_if<HookEvent>(&decoded))
                return std::move(*event);
        }
    }
    qFatal("a benchmark record was rejected: %s", record.constData());
}

// Hands an event to the session list the way the listener's signal does:
// queued, applied at the next turn of the main thread's event loop.
inline void deliver(SessionListModel &manager, HookEvent event)
{
    QMetaObject::invokeMethod(
        &manager, [&manager, event = std::move(event)] { manager.handle(event); },
        Qt::QueuedConnection);
}

// Resident size of this process, after handing freed memory back.
inline long residentBytes()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * sysconf(_SC_PAGESIZE);
}

inline QString projectDirectory(qint64 n)
{
    return QStringLiteral("/home/user/code/project-%1").arg(n);
}

// Saves `count` directories into the store's file as running Tolvo would
// have recorded them, one new session each, the newest last; returns at once
// when the file is written.
inline void saveDirectories(const QString &filePath, int count)
{
    SessionStore store(filePath);
    QStringList order;
    const WallClockTime now = wallClockNow();
    for (int n = 0; n < count; ++n) {
        const QString path = projectDirectory(n);
        const QString name = path.section(u'/', -1);
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        store.nameForNewSession(path, name);
        store.setRecord({id, std::nullopt, path, name, now - double(count - n)});
        order.append(id);
    }
    store.setOrder(order);
    if (!store.flush())
        qFatal("could not save %d directories", count);
}

// Starts a program with the given file actions, which it then destroys.
inline pid_t spawnWith(posix_spawn_file_actions_t &actions,
                       const std::vector<QByteArray> &arguments)
{
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts a program with standard input from `input` and output to `output`.
inline pid_t spawn(const std::vector<QByteArray> &arguments, const char *input = "/dev/null",
                   const char *output = "/dev/null")
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    return spawnWith(actions, arguments);
}

inline int waitFor(pid_t pid)
{
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    return status;
}

// Runs this program again with `arguments` in a fresh process whose rows go
// to `report` and whose diagnostics go where this one's do; returns its exit status.
inline int runAgain(const std::vector<QByteArray> &arguments, const Report &report)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, report.fd(), 1);
    std::vector<QByteArray> all{"/proc/self/exe"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const pid_t pid = spawnWith(actions, all);
    return pid > 0 ? waitFor(pid) : -1;
}

// The hook command as Claude Code's settings hold it (the helper in the build
// tree), the floor it is measured against: the same shape of command starting
// a static program that does nothing, so that the difference is the helper's
// own work. And the jq filter that hook commands ran before tolvo-hook reduced
// the input itself, writing to /dev/null.
struct HookCommands
{
    QByteArray hook;
    QByteArray floor;
    QByteArray jqOnly;
};

inline HookCommands hookCommands(const QByteArray &noop)
{
    QByteArray quoted = noop;
    quoted.replace("'", "'\\''");
    return {QFile::encodeName(HookConfiguration::hookCommand(QStringLiteral(TOLVO_BUILD_PREFIX))),
            "'" + quoted + "' \"$PPID\"",
            R"(jq -c --arg pid "$PPID" '{instance: $pid, event: .hook_event_name, )"
            R"(tool: (.tool_name // null), details: (.prompt // .compact_trigger // )"
            R"((.tool_input | tojson) // null), working_directory: .cwd}' > /dev/null)"};
}

inline QString fixture(const char *name)
{
    return QStringLiteral(TOLVO_FIXTURES_DIR "/hook-inputs/") + QString::fromLatin1(name) +
           QStringLiteral(".json");
}

// A fixture as tolvo-hook reduces it: the record that travels through the
// pipe ("instance" is this process, standing in for Claude Code). The helper
// writes into nothing but a pipe, so it gets one of its own under `scratch`.
inline QByteArray reducedFixture(const char *name, const QString &scratch)
{
    const QByteArray home = QFile::encodeName(scratch + QStringLiteral("/reduce"));
    const QByteArray tolvo = home + "/.tolvo";
    ::mkdir(home.constData(), 0700);
    ::mkdir(tolvo.constData(), 0700);
    ::close(::open((tolvo + "/events.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ::mkfifo((tolvo + "/events").constData(), 0600);
    // The helper writes only while the process the pid file names runs: this one.
    QFile comm(QStringLiteral("/proc/self/comm"));
    comm.open(QIODevice::ReadOnly);
    QFile pid(QFile::decodeName(tolvo + "/tolvo.pid"));
    pid.open(QIODevice::WriteOnly);
    pid.write(QByteArray::number(getpid()) + ' ' + comm.readAll());
    pid.close();
    const int reader = ::open((tolvo + "/events").constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const QByteArray ownHome = qgetenv("HOME");
    qputenv("HOME", home);
    waitFor(spawn({TOLVO_BUILD_PREFIX "/libexec/tolvo/tolvo-hook", QByteArray::number(getpid())},
                  QFile::encodeName(fixture(name)).constData()));
    qputenv("HOME", ownHome);
    QByteArray record(1 << 16, Qt::Uninitialized);
    record.truncate(std::max<ssize_t>(::read(reader, record.data(), record.size()), 0));
    ::close(reader);
    return record.trimmed();
}

} // namespace Bench
