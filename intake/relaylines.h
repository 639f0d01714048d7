#pragma once

// The relay's plumbing: lines in, queued lines out, one poll() over many
// descriptors. Plain C++.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <vector>

namespace Relay {

// Cuts a byte stream into lines (without their line feed). A line longer
// than the limit is dropped whole: everything up to the next line feed.
class LineSplitter
{
public:
    explicit LineSplitter(std::size_t limit) : m_limit(limit) {}
    // Calls `line` for each complete, non-empty line in `data`.
    void feed(std::string_view data, const std::function<void(std::string_view)> &line);
    // Bytes of an unfinished line held back.
    std::size_t pending() const { return m_partial.size(); }

private:
    std::size_t m_limit;
    std::string m_partial;
    bool m_skipping = false;
};

// Bytes waiting to be written to a non-blocking descriptor, in order. Pieces
// are shared, so that one stored item goes to a desktop without a copy.
class OutputQueue
{
public:
    using Piece = std::shared_ptr<const std::string>;
    void push(Piece piece);
    void push(std::string bytes);
    std::size_t size() const { return m_bytes; }
    bool empty() const { return m_bytes == 0; }
    // Writes what the descriptor takes now; false when it failed for good.
    bool flush(int fd);
    // Keeps only the rest of a piece already begun, so that whatever comes
    // next starts on a line of its own.
    void dropUnstarted();

private:
    std::deque<Piece> m_pieces;
    std::size_t m_offset = 0; // into the first piece
    std::size_t m_bytes = 0;
    bool m_atLineStart = true; // the last byte written was a line feed
};

// A line feed as a piece of its own, after a shared line.
const OutputQueue::Piece &lineFeed();

// The descriptors of one turn of a loop, each with what to do when it is
// ready. Handlers may end other descriptors of the same turn: whoever owns
// those must check that they are still alive (weak_ptr).
class PollSet
{
public:
    void add(int fd, short events, std::function<void(short revents)> handler);
    // Waits at most `timeoutMs` (-1: no bound) with `mask` as the signal
    // mask meanwhile, then runs the handlers of the ready descriptors.
    // False when interrupted by a signal.
    bool wait(int timeoutMs, const sigset_t *mask);

private:
    std::vector<pollfd> m_fds;
    std::vector<std::function<void(short)>> m_handlers;
};

} // namespace Relay
