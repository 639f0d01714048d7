#pragma once

// The relay daemon's side of ~/.tolvo/answers (permissionhold.h): hook
// helpers that wait for the desktop's answer to a permission request, as
// Tolvo's AnswerChannel keeps them locally. Plain C++.

#include "hookio.h"
#include "relaylines.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Relay {

class WaitingHelpers
{
public:
    // How long a helper has, once connected, to name its request.
    static constexpr long long namingUs = 2'000'000;
    static constexpr std::size_t mostWaiting = 64;
    static constexpr std::size_t mostConnections = 2 * mostWaiting;

    // `ended`: a waiting helper's connection closed by itself (answered in
    // the terminal, or the hook was cancelled).
    explicit WaitingHelpers(std::function<void(const std::string &id)> ended)
        : m_ended(std::move(ended))
    {}

    // The listening socket ~/.tolvo/answers, which stays its owner's.
    void setListener(int fd) { m_listener = fd; }

    // `holding`: whether anyone can answer; a helper that names its request
    // while nobody can is let go at once.
    void addTo(PollSet &set, bool holding);
    // The nearest naming deadline, in HookIo::nowUs() time; 0: none.
    long long nextDeadline() const;
    // Drops helpers that did not name their request in time.
    void expire();

    // Sends `line` and a line feed to the helper waiting under `id` and lets
    // it go; whether it waited and took the line.
    bool answer(const std::string &id, const std::string &line);
    // Lets the helper go without a line.
    void release(const std::string &id);
    void releaseAll();
    std::size_t waitingCount() const { return m_waiting.size(); }

private:
    struct Connection
    {
        HookIo::Descriptor fd;
        std::string received;
        std::string id; // empty until named
        long long namingDeadline = 0;
    };
    void accept(bool holding);
    // Serves connections not yet seen: a helper's record can arrive before them.
    void catchUp();
    void readFrom(Connection *connection, bool holding);
    void drop(Connection *connection);

    std::function<void(const std::string &)> m_ended;
    int m_listener = -1;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::unordered_map<std::string, Connection *> m_waiting;
};

} // namespace Relay
