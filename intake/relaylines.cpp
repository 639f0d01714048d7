#include "relaylines.h"

#include <cerrno>
#include <sys/uio.h>
#include <utility>

namespace Relay {

void LineSplitter::feed(std::string_view data, const std::function<void(std::string_view)> &line)
{
    while (!data.empty()) {
        const std::size_t end = data.find('\n');
        if (end == std::string_view::npos) {
            if (m_skipping)
                return;
            if (m_partial.size() + data.size() > m_limit) {
                m_skipping = true;
                std::string().swap(m_partial);
            } else {
                m_partial.append(data);
            }
            return;
        }
        const std::string_view piece = data.substr(0, end);
        data.remove_prefix(end + 1);
        if (std::exchange(m_skipping, false))
            continue;
        if (m_partial.empty()) {
            if (!piece.empty() && piece.size() <= m_limit)
                line(piece);
            continue;
        }
        if (m_partial.size() + piece.size() <= m_limit) {
            m_partial.append(piece);
            line(m_partial);
        }
        // A long line's buffer is not kept for the short ones after it.
        if (m_partial.capacity() > (1 << 20))
            std::string().swap(m_partial);
        else
            m_partial.clear();
    }
}

const OutputQueue::Piece &lineFeed()
{
    static const OutputQueue::Piece piece = std::make_shared<const std::string>("\n");
    return piece;
}

void OutputQueue::push(Piece piece)
{
    if (!piece || piece->empty())
        return;
    m_bytes += piece->size();
    m_pieces.push_back(std::move(piece));
}

void OutputQueue::push(std::string bytes)
{
    push(std::make_shared<const std::string>(std::move(bytes)));
}

bool OutputQueue::flush(int fd)
{
    while (!m_pieces.empty()) {
        iovec vectors[64];
        int count = 0;
        for (auto piece = m_pieces.begin(); piece != m_pieces.end() && count < 64; ++piece) {
            const std::size_t skip = count == 0 ? m_offset : 0;
            vectors[count].iov_base = const_cast<char *>((*piece)->data() + skip);
            vectors[count].iov_len = (*piece)->size() - skip;
            ++count;
        }
        const ssize_t written = ::writev(fd, vectors, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno == EAGAIN;
        std::size_t left = static_cast<std::size_t>(written);
        m_bytes -= left;
        while (left > 0) {
            const std::size_t rest = m_pieces.front()->size() - m_offset;
            if (left < rest) {
                m_offset += left;
                m_atLineStart = (*m_pieces.front())[m_offset - 1] == '\n';
                break;
            }
            m_atLineStart = m_pieces.front()->back() == '\n';
            left -= rest;
            m_offset = 0;
            m_pieces.pop_front();
        }
    }
    return true;
}

void OutputQueue::dropUnstarted()
{
    Piece begun = m_offset > 0 ? std::move(m_pieces.front()) : nullptr;
    // A stored line goes out as two pieces, the line and its line feed.
    const bool endsLine = begun ? begun->back() == '\n' : m_atLineStart;
    m_pieces.clear();
    m_bytes = 0;
    if (begun) {
        m_bytes = begun->size() - m_offset;
        m_pieces.push_back(std::move(begun));
    }
    if (!endsLine)
        push(lineFeed());
}

void PollSet::add(int fd, short events, std::function<void(short)> handler)
{
    m_fds.push_back({fd, events, 0});
    m_handlers.push_back(std::move(handler));
}

bool PollSet::wait(int timeoutMs, const sigset_t *mask)
{
    timespec timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1'000'000L};
    const int ready = ::ppoll(m_fds.data(), m_fds.size(), timeoutMs < 0 ? nullptr : &timeout, mask);
    if (ready < 0)
        return errno != EINTR;
    for (std::size_t i = 0; i < m_fds.size(); ++i) {
        if (m_fds[i].revents != 0)
            m_handlers[i](m_fds[i].revents);
    }
    return true;
}

} // namespace Relay
