#include "relaydaemon.h"

#include "hookeventkinds.h"
#include "permissionhold.h"
#include "relay.h"
#include "relayfiles.h"
#include "relayfocus.h"
#include "relayhelpers.h"
#include "relayjson.h"
#include "relaylines.h"
#include "relaystore.h"
#include "relaytranscripts.h"
#include "terminalvariables.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <nlohmann/json.hpp>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace Relay {

namespace {

using RelayJson::Json;
using RelayJson::line;
using RelayJson::Ordered;
using RelayJson::parsed;
using RelayJson::text;

// Once more than this waits for a slow desktop, the pipe is left unread and
// hooks time out by themselves: back pressure, never a record lost.
constexpr std::size_t backlogLimit = 8 << 20;
constexpr std::size_t readChunk = 256 * 1024;
constexpr long long tickUs = TranscriptWatch::pollMs * 1000LL;
constexpr long long processCheckUs = 1'000'000;
constexpr long long idleLimitUs = 24LL * 3600 * 1'000'000;
// A replaced desktop gets this long to take its last line.
constexpr long long closingUs = 2'000'000;
constexpr long longestHoldSeconds = 3600;

volatile sig_atomic_t stopSignal = 0;

class Daemon
{
public:
    int run(int status);

private:
    struct Peer
    {
        HookIo::Descriptor fd;
        LineSplitter input{longestLine};
        OutputQueue output;
        long long closeBy = 0;
    };

    void turn(const sigset_t *mask);
    void tick();
    void acceptClient();
    void serveClient(const std::shared_ptr<Peer> &peer, short revents);
    void disconnect();
    void readEvents();
    void record(std::string_view bytes);
    void command(std::string_view bytes);
    void send(const OutputQueue::Piece &item);
    void send(const Ordered &message);
    void focus(const std::string &instance);

    Files m_files;
    Store m_store;
    WaitingHelpers m_helpers{[this](const std::string &id) {
        send(Ordered{{"relay", "ended"}, {"request", id}});
    }};
    TranscriptWatch m_transcripts;
    TmuxFocus m_focus{[this](const std::string &instance, bool ok, const std::string &message) {
        send(Ordered{
            {"relay", "focused"}, {"instance", instance}, {"ok", ok}, {"message", message}});
    }};
    LineSplitter m_events{longestLine};
    std::string m_buffer = std::string(readChunk, '\0');
    std::string m_epoch;
    std::string m_machine;
    std::shared_ptr<Peer> m_client;
    std::vector<std::shared_ptr<Peer>> m_closing;
    bool m_quit = false;
    long long m_nextTick = 0;
    long long m_nextProcessCheck = 0;
    long long m_idleSince = 0;
};

int Daemon::run(int status)
{
    std::string problem;
    if (!m_files.lock(&problem) || !m_files.create(&problem)) {
        HookIo::writeAll(status, problem);
        ::close(status);
        m_files.remove();
        return problem.empty() ? 0 : 1;
    }
    m_helpers.setListener(m_files.answers());
    m_epoch = HookIo::randomHex(8);
    utsname name = {};
    ::uname(&name);
    m_machine = name.machine;
    ::close(status);

    sigset_t blocked, waiting;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    struct sigaction action = {};
    action.sa_handler = [](int signal) { stopSignal = signal; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    m_idleSince = m_nextTick = m_nextProcessCheck = HookIo::nowUs();
    while (!m_quit && !stopSignal)
        turn(&waiting);
    if (m_client)
        m_client->output.flush(m_client->fd.get()); // an error line, if any: as far as it goes
    m_client.reset();
    m_helpers.releaseAll();
    m_files.remove();
    return 0;
}

void Daemon::turn(const sigset_t *mask)
{
    PollSet set;
    set.add(m_files.listener(), POLLIN, [this](short) { acceptClient(); });
    m_helpers.addTo(set, m_client != nullptr);
    if (!m_client || m_client->output.size() <= backlogLimit)
        set.add(m_files.events(), POLLIN, [this](short) { readEvents(); });
    if (m_client) {
        const std::weak_ptr<Peer> weak = m_client;
        set.add(m_client->fd.get(), short(POLLIN | (m_client->output.empty() ? 0 : POLLOUT)),
                [this, weak](short revents) {
                    if (const auto peer = weak.lock(); peer && peer == m_client)
                        serveClient(peer, revents);
                });
    }
    for (const auto &peer : m_closing)
        set.add(peer->fd.get(), POLLOUT, [](short) {});
    m_focus.addTo(set);

    long long wake = m_nextTick;
    for (const long long at : {m_helpers.nextDeadline(), m_focus.nextCheck()}) {
        if (at != 0)
            wake = std::min(wake, at);
    }
    for (const auto &peer : m_closing)
        wake = std::min(wake, peer->closeBy);
    const long long left = std::max(0LL, wake - HookIo::nowUs());
    set.wait(int((left + 999) / 1000), mask);

    m_helpers.expire();
    m_focus.check();
    const long long now = HookIo::nowUs();
    std::erase_if(m_closing, [now](const auto &peer) {
        return !peer->output.flush(peer->fd.get()) || peer->output.empty() || now >= peer->closeBy;
    });
    if (m_client && !m_client->output.flush(m_client->fd.get()))
        disconnect();
    if (now >= m_nextTick)
        tick();
}

void Daemon::tick()
{
    const long long now = HookIo::nowUs();
    m_nextTick = now + tickUs;
    for (const std::string &instance : m_transcripts.poll())
        send(m_store.addRefused(instance));
    if (now < m_nextProcessCheck)
        return;
    m_nextProcessCheck = now + processCheckUs;
    for (const auto &[instance, item] : m_store.checkProcesses()) {
        m_transcripts.stop(instance);
        send(item);
    }
    if (m_files.folderRemoved()) {
        m_quit = true; // with the sockets: nobody can reach this daemon any more
        return;
    }
    std::string problem;
    if (m_files.tolvoRuns(&problem)) {
        // Tolvo took over here: its pipe and files are left to it.
        send(Ordered{{"relay", "error"}, {"message", problem}});
        m_quit = true;
        return;
    }
    if (m_files.pipeReplaced()) {
        readEvents(); // what the old pipe still holds
        if (!m_files.recreatePipe(&problem))
            send(Ordered{{"relay", "error"}, {"message", problem}});
    }
    if (m_client || m_store.anyLive())
        m_idleSince = now;
    else if (now - m_idleSince > idleLimitUs)
        m_quit = true;
}

void Daemon::acceptClient()
{
    for (;;) {
        HookIo::Descriptor fd(
            ::accept4(m_files.listener(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd)
            return;
        ucred peer = {};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::getuid())
            continue;
        if (m_client) {
            m_client->output.dropUnstarted();
            m_client->output.push(line(Ordered{{"relay", "replaced"}}));
            m_client->closeBy = HookIo::nowUs() + closingUs;
            ::shutdown(m_client->fd.get(), SHUT_RD);
            m_closing.push_back(std::move(m_client));
        }
        m_client = std::make_shared<Peer>();
        m_client->fd = std::move(fd);
        send(Ordered{
            {"relay", "hello"}, {"version", version}, {"epoch", m_epoch}, {"machine", m_machine}});
        for (const OutputQueue::Piece &item : m_store.replay())
            send(item);
        send(Ordered{{"relay", "replayed"}, {"live", m_store.live()}});
    }
}

void Daemon::serveClient(const std::shared_ptr<Peer> &peer, short revents)
{
    if ((revents & POLLOUT) && !peer->output.flush(peer->fd.get())) {
        disconnect();
        return;
    }
    if (!(revents & (POLLIN | POLLHUP | POLLERR)))
        return;
    const ssize_t count = ::recv(peer->fd.get(), m_buffer.data(), m_buffer.size(), 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        disconnect();
        return;
    }
    peer->input.feed(std::string_view(m_buffer.data(), std::size_t(count)),
                     [this](std::string_view bytes) { command(bytes); });
}

// Nobody can answer now: no helper waits for it.
void Daemon::disconnect()
{
    m_client.reset();
    m_helpers.releaseAll();
    m_files.writeHold({});
    m_idleSince = HookIo::nowUs();
}

void Daemon::readEvents()
{
    for (std::size_t taken = 0; taken < 4 * readChunk;) {
        const ssize_t count = ::read(m_files.events(), m_buffer.data(), m_buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        taken += std::size_t(count);
        m_events.feed(std::string_view(m_buffer.data(), std::size_t(count)),
                      [this](std::string_view bytes) { record(bytes); });
        if (m_client && m_client->output.size() > backlogLimit)
            return;
    }
}

void Daemon::record(std::string_view bytes)
{
    // The members read here are strings at the top and in "terminal".
    const Json record = parsed(bytes, 1);
    const auto event = record.is_object() ? record.find("event") : record.end();
    const std::string instance = record.is_object() ? text(record, "instance") : std::string();
    if (event == record.end() || !event->is_string() || Store::processId(instance) == 0)
        return;
    send(m_store.addRecord(instance, bytes));

    Store::Instance *session = m_store.find(instance);
    const auto terminal = record.find("terminal");
    const bool hasTerminal = terminal != record.end() && terminal->is_object();
    session->tmux = hasTerminal ? text(*terminal, TerminalVariables::tmux) : std::string();
    session->tmuxPane = hasTerminal ? text(*terminal, TerminalVariables::tmuxPane) : std::string();

    // Only the terminal shows the prompt now; a refusal shows in the
    // transcript (Claude Code's and Gemini CLI's: Codex reports its own).
    const std::string agent = text(record, "agent");
    const HookEventKind kind = hookEventKindOf(agent, event->get<std::string>());
    const std::string transcript = text(record, "transcript_path");
    const std::string notification = text(record, "notification_type");
    if ((agent.empty() || agent == "gemini") &&
        (kind == HookEventKind::permissionRequest ||
         (kind == HookEventKind::notification &&
          (notification == "permission_prompt" || notification == "ToolPermission"))) &&
        !transcript.empty())
        m_transcripts.follow(instance, transcript);
    else
        m_transcripts.stop(instance);
}

void Daemon::command(std::string_view bytes)
{
    const Json message = parsed(bytes, 64);
    if (!message.is_object())
        return;
    if (const auto hold = message.find("hold"); hold != message.end()) {
        if (!hold->is_number_integer() || *hold < 0 || *hold > longestHoldSeconds)
            return;
        PermissionHold::Bound bound{hold->get<long>(), true, false};
        if (const auto agents = message.find("agents");
            agents != message.end() && agents->is_array()) {
            const auto named = [&](std::string_view word) {
                return std::find(agents->begin(), agents->end(), std::string(word)) !=
                       agents->end();
            };
            bound.claude = named(PermissionHold::claudeWord);
            bound.codex = named(PermissionHold::codexWord);
        }
        m_files.writeHold(bound);
    } else if (const std::string id = text(message, "answer"); !id.empty()) {
        const auto decision = message.find("decision");
        if (!PermissionHold::isRequestId(id) || decision == message.end() || !decision->is_object())
            return;
        const bool delivered =
            m_helpers.answer(id, decision->dump(-1, ' ', false, Json::error_handler_t::replace));
        send(Ordered{{"relay", "answered"}, {"request", id}, {"delivered", delivered}});
    } else if (const std::string released = text(message, "release");
               PermissionHold::isRequestId(released)) {
        m_helpers.release(released);
    } else if (const std::string instance = text(message, "focus"); !instance.empty()) {
        focus(instance);
    } else if (message.value("quit", Json()) == true) {
        m_quit = true;
    }
}

void Daemon::focus(const std::string &instance)
{
    const Store::Instance *session = m_store.find(instance);
    if (!session) {
        send(Ordered{{"relay", "focused"},
                     {"instance", instance},
                     {"ok", false},
                     {"message", "no such session here"}});
        return;
    }
    m_focus.start(instance, session->tmux, session->tmuxPane);
}

void Daemon::send(const OutputQueue::Piece &item)
{
    if (!m_client)
        return;
    m_client->output.push(item);
    m_client->output.push(lineFeed());
}

void Daemon::send(const Ordered &message)
{
    if (m_client)
        m_client->output.push(line(message));
}

} // namespace

int runDaemon(int status)
{
    ::prctl(PR_SET_NAME, processName);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    ::umask(077);
    Daemon daemon;
    return daemon.run(status);
}

} // namespace Relay
