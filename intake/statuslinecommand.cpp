#include "statuslinecommand.h"

#include "hookio.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

extern char **environ;

namespace StatusLineCommand {

using namespace HookIo;

namespace {

// How long the user's status-line command may take; Claude Code cancels it
// anyway at its next update.
constexpr long long userCommandUs = 2'000'000;
// Between SIGTERM and SIGKILL to what is left of it.
constexpr long long endingGraceUs = 100'000;

volatile sig_atomic_t endingSignal = 0;

void onEndingSignal(int signal)
{
    endingSignal = signal;
}

void onChild(int) {}

int exitStatusOf(int status)
{
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// Ends the command's process group: SIGTERM, then SIGKILL to whatever is left
// after a short grace; reaps the shell.
void endGroup(pid_t child)
{
    ::kill(-child, SIGTERM);
    const long long giveUp = nowUs() + endingGraceUs;
    bool reaped = false;
    int status = 0;
    while (nowUs() < giveUp) {
        reaped = reaped || ::waitpid(child, &status, WNOHANG) == child;
        if (reaped && ::kill(-child, 0) != 0)
            return;
        const timespec pause = {0, 2'000'000};
        nanosleep(&pause, nullptr);
    }
    ::kill(-child, SIGKILL);
    if (!reaped)
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
}

// Words that sh would read differently from a program's name.
bool isShellWord(std::string_view word)
{
    static constexpr std::array<std::string_view, 34> words{
        "!",     "{",     "}",     "case",  "do",       "done",     "elif",    "else",  "esac",
        "fi",    "for",   "if",    "in",    "then",     "until",    "while",   ".",     ":",
        "break", "cd",    "continue", "eval", "exec",  "exit",     "export",   "read",
        "readonly", "return", "set", "shift", "trap",   "unset",    "alias",   "wait"};
    for (const std::string_view shellWord : words) {
        if (word == shellWord)
            return true;
    }
    return false;
}

// The words of a command that needs no shell: plain characters and spaces,
// and single-quoted text. Empty when sh would do more than split it there
// (expansions, redirections, globs, operators, an assignment); a word's
// leading ~/ is $HOME, as sh has it.
std::vector<std::string> plainWords(std::string_view command)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::exchange(word, {}));
            inWord = false;
        } else if (c == '\'') {
            const std::size_t end = command.find('\'', i + 1);
            if (end == std::string_view::npos)
                return {};
            word.append(command.substr(i + 1, end - i - 1));
            i = end;
            inWord = true;
        } else if (c == '~' && !inWord && command.substr(i + 1, 1) == "/") {
            const char *home = std::getenv("HOME");
            if (!home || !*home)
                return {};
            word.append(home); // as sh reads ~/ at the start of a word
            inWord = true;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   std::string_view("_-./,:+@%^").find(c) != std::string_view::npos ||
                   (c == '=' && !words.empty())) {
            word.push_back(c);
            inWord = true;
        } else {
            return {};
        }
    }
    if (inWord)
        words.push_back(word);
    if (words.empty() || words.front().empty() || isShellWord(words.front()))
        return {};
    return words;
}

} // namespace

int run(const char *command, std::string_view input, void (*meanwhile)(void *), void *context)
{
    const auto reportAnyway = [&] {
        if (meanwhile)
            meanwhile(context);
        return 0;
    };
    int toChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0)
        return reportAnyway();
    Descriptor reading(toChild[0]), writing(toChild[1]);
    ::setenv(variable, "1", 1);

    // Blocked but while waiting: a signal then wakes the wait (ppoll).
    sigset_t watched, unblocked;
    sigemptyset(&watched);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&watched, signal);
    sigprocmask(SIG_BLOCK, &watched, &unblocked);
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = onEndingSignal;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    action.sa_handler = onChild;
    sigaction(SIGCHLD, &action, nullptr);

    // Spawned rather than forked: no copy of the helper's memory.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults = watched;
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &unblocked);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, reading.get(), STDIN_FILENO);
    // A command of plain words is started as sh would start it, without sh:
    // a process less on every update. What is no program is left to sh.
    std::vector<std::string> words = plainWords(command);
    std::vector<char *> arguments;
    for (std::string &word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    pid_t child = -1;
    int failed = words.empty() ? ENOENT
                               : posix_spawnp(&child, arguments.front(), &actions, &attributes,
                                              arguments.data(), environ);
    if (failed) {
        char shell[] = "sh", option[] = "-c";
        char *const byShell[] = {shell, option, const_cast<char *>(command), nullptr};
        failed = posix_spawn(&child, "/bin/sh", &actions, &attributes, byShell, environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed)
        return reportAnyway();
    reading.reset(-1);
    ::fcntl(writing.get(), F_SETFL, O_NONBLOCK);

    const long long deadline = nowUs() + userCommandUs;
    for (;;) {
        // What the command does not read is dropped (EPIPE), as is the rest
        // once it ends.
        while (writing && !input.empty()) {
            const ssize_t count = ::write(writing.get(), input.data(), input.size());
            if (count > 0)
                input.remove_prefix(static_cast<std::size_t>(count));
            else if (count < 0 && errno == EAGAIN)
                break;
            else if (count == 0 || errno != EINTR)
                writing.reset(-1);
        }
        if (input.empty())
            writing.reset(-1);
        if (meanwhile) // with the input, or what a pipe takes of it, on its way
            std::exchange(meanwhile, nullptr)(context);
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child)
            return exitStatusOf(status);
        if (endingSignal) {
            endGroup(child);
            return 128 + endingSignal;
        }
        const long long left = deadline - nowUs();
        if (left <= 0) {
            endGroup(child);
            return 0;
        }
        pollfd watch = {writing.get(), POLLOUT, 0};
        const timespec wait = {left / 1'000'000, (left % 1'000'000) * 1000};
        ::ppoll(&watch, writing ? 1 : 0, &wait, &unblocked);
    }
}

} // namespace StatusLineCommand
