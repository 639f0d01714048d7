#pragma once

// What the relay daemon keeps for the next desktop to connect: the newest
// items of each session, numbered in the order they happened. Plain C++.

#include "relaylines.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Relay {

class Store
{
public:
    using Piece = OutputQueue::Piece;

    struct Limits
    {
        std::size_t itemsPerInstance = 32;
        std::size_t instances = 256;
        std::size_t bytes = 32 << 20; // of all items' lines
    };

    struct Item
    {
        unsigned long long seq;
        Piece line; // without its line feed
    };

    // A session, named by the "instance" of its records: Claude Code's process id.
    struct Instance
    {
        pid_t pid = 0;
        bool exited = false;
        unsigned long long lastSeq = 0; // its newest item: how recently it was active
        std::deque<Item> items;
        // Its newest record's terminal: TMUX and TMUX_PANE.
        std::string tmux;
        std::string tmuxPane;
    };

    explicit Store(Limits limits) : m_limits(limits) {}
    Store() : Store(Limits{}) {}

    // The process id an instance text names: all digits, 1 to INT_MAX; else 0.
    static pid_t processId(std::string_view instance);

    // Each stores the next item and returns its line: {"seq":N,"record":<record>}
    // with the record's bytes unchanged, {"seq":N,"exited":"I"}, {"seq":N,"refused":"I"}.
    // `instance` must be a process id's text.
    Piece addRecord(const std::string &instance, std::string_view record);
    Piece addRefused(const std::string &instance);

    // Marks the sessions whose process is gone as exited; each with its item.
    std::vector<std::pair<std::string, Piece>> checkProcesses();

    Instance *find(const std::string &instance);
    // Every stored item, oldest first.
    std::vector<Piece> replay() const;
    // The sessions whose process still runs.
    std::vector<std::string> live() const;
    bool anyLive() const;

    std::size_t bytes() const { return m_bytes; }
    std::size_t instanceCount() const { return m_instances.size(); }

private:
    Piece add(const std::string &instance, std::string line);
    void evictInstance(const std::string &keep);
    void evictOldestItem();

    Limits m_limits;
    unsigned long long m_seq = 0;
    std::size_t m_bytes = 0;
    std::unordered_map<std::string, Instance> m_instances;
};

} // namespace Relay
