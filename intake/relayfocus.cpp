#include "relayfocus.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace Relay {

namespace {

constexpr long long reapPollUs = 10'000;

bool isPane(const std::string &pane)
{
    return pane.size() > 1 && pane.size() < 12 && pane[0] == '%' &&
           pane.find_first_not_of("0123456789", 1) == std::string::npos;
}

} // namespace

TmuxFocus::~TmuxFocus()
{
    for (const auto &job : m_jobs) {
        ::kill(job->pid, SIGKILL);
        ::waitpid(job->pid, nullptr, 0);
    }
}

void TmuxFocus::start(const std::string &instance, const std::string &tmux, const std::string &pane)
{
    // TMUX is "<socket>,<server pid>,<session index>".
    const std::string socket = tmux.substr(0, tmux.find(','));
    if (socket.empty() || socket[0] != '/' || !isPane(pane)) {
        m_done(instance, false, "the session runs in no tmux pane");
        return;
    }
    if (m_jobs.size() >= mostJobs) {
        m_done(instance, false, "too many tmux commands are running");
        return;
    }
    auto job = std::make_unique<Job>();
    job->instance = instance;
    job->socket = socket;
    job->pane = pane;
    job->deadline = HookIo::nowUs() + boundUs;
    if (!spawn(*job)) {
        m_done(instance, false, "tmux cannot be started: " + job->errorText);
        return;
    }
    m_jobs.push_back(std::move(job));
}

bool TmuxFocus::spawn(Job &job)
{
    int errors[2];
    if (::pipe2(errors, O_CLOEXEC | O_NONBLOCK) != 0) {
        job.errorText = std::strerror(errno);
        return false;
    }
    job.errors.reset(errors[0]);
    const HookIo::Descriptor writeEnd(errors[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    const char *command = job.step == 0 ? "select-window" : "select-pane";
    const char *arguments[] = {"tmux",           "-S",   job.socket.c_str(), command, "-t",
                               job.pane.c_str(), nullptr};
    const int failed = ::posix_spawnp(&job.pid, "tmux", &actions, nullptr,
                                      const_cast<char *const *>(arguments), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        job.errorText = std::strerror(failed);
        job.pid = -1;
        return false;
    }
    job.errorText.clear();
    return true;
}

void TmuxFocus::addTo(PollSet &set)
{
    for (const auto &job : m_jobs) {
        if (!job->errors)
            continue;
        Job *raw = job.get();
        set.add(job->errors.get(), POLLIN, [this, raw](short) {
            // The job may have ended in this turn: look it up.
            if (std::none_of(m_jobs.begin(), m_jobs.end(),
                             [raw](const auto &job) { return job.get() == raw; }))
                return;
            readErrors(*raw);
        });
    }
}

long long TmuxFocus::nextCheck() const
{
    return m_jobs.empty() ? 0 : HookIo::nowUs() + reapPollUs;
}

void TmuxFocus::check()
{
    for (auto job = m_jobs.begin(); job != m_jobs.end();) {
        Job &running = **job;
        int status = 0;
        const pid_t reaped = ::waitpid(running.pid, &status, WNOHANG);
        if (reaped == 0 && HookIo::nowUs() < running.deadline) {
            ++job;
            continue;
        }
        if (reaped == 0) {
            ::kill(running.pid, SIGKILL);
            ::waitpid(running.pid, nullptr, 0);
            job = finish(job, false, "tmux did not answer within 2 seconds");
            continue;
        }
        if (reaped < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            readErrors(running);
            std::string line = running.errorText.substr(0, running.errorText.find('\n'));
            job = finish(job, false, "tmux: " + (line.empty() ? "it failed" : line));
        } else if (running.step == 1) {
            job = finish(job, true, "selected its tmux pane");
        } else if (running.step = 1; spawn(running)) {
            ++job;
        } else {
            job = finish(job, false, "tmux cannot be started: " + running.errorText);
        }
    }
}

void TmuxFocus::readErrors(Job &job)
{
    char chunk[1024];
    ssize_t count;
    while (job.errors && (count = ::read(job.errors.get(), chunk, sizeof chunk)) != 0) {
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            if (errno != EAGAIN)
                job.errors.reset(-1);
            return;
        }
        if (job.errorText.size() < 4096)
            job.errorText.append(chunk, static_cast<std::size_t>(count));
    }
    job.errors.reset(-1);
}

TmuxFocus::Jobs::iterator TmuxFocus::finish(Jobs::iterator job, bool ok, const std::string &message)
{
    const std::string instance = (*job)->instance;
    const auto next = m_jobs.erase(job);
    m_done(instance, ok, message);
    return next;
}

} // namespace Relay
