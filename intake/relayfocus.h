#pragma once

// Brings a session's tmux pane to the front on the relay's machine, for the
// relay daemon: `tmux -S SOCKET select-window -t PANE`, then select-pane,
// without a shell and bounded in time. Plain C++.

#include "hookio.h"
#include "relaylines.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Relay {

class TmuxFocus
{
public:
    using Done =
        std::function<void(const std::string &instance, bool ok, const std::string &message)>;
    static constexpr long long boundUs = 2'000'000;
    static constexpr std::size_t mostJobs = 8;

    explicit TmuxFocus(Done done) : m_done(std::move(done)) {}
    ~TmuxFocus();

    // `tmux` is the TMUX variable of the session's terminal, `pane` its TMUX_PANE.
    void start(const std::string &instance, const std::string &tmux, const std::string &pane);

    // Watches the running commands' error output, and reaps them.
    void addTo(PollSet &set);
    // When to look again at the latest, in microseconds of HookIo::nowUs(); 0: no work.
    long long nextCheck() const;
    void check();

private:
    struct Job
    {
        std::string instance;
        std::string socket;
        std::string pane;
        int step = 0; // 0: select-window, 1: select-pane
        pid_t pid = -1;
        HookIo::Descriptor errors;
        std::string errorText;
        long long deadline = 0;
    };
    using Jobs = std::vector<std::unique_ptr<Job>>;
    bool spawn(Job &job);
    static void readErrors(Job &job);
    // Reports the job's end; the job after it.
    Jobs::iterator finish(Jobs::iterator job, bool ok, const std::string &message);

    Done m_done;
    Jobs m_jobs;
};

} // namespace Relay
