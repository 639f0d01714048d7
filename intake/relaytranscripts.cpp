#include "relaytranscripts.h"

#include "hookio.h"
#include "transcriptrefusal.h"

#include <algorithm>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace Relay {

namespace {

// A regular file of the user's, never through a link.
int openTranscript(const std::string &path, struct stat *status)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0 &&
        (::fstat(fd, status) != 0 || !S_ISREG(status->st_mode) || status->st_uid != ::getuid())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

void TranscriptWatch::follow(const std::string &instance, const std::string &path)
{
    const auto known = m_followed.find(instance);
    if (known != m_followed.end() && known->second.path == path)
        return;
    struct stat status;
    const HookIo::Descriptor fd(openTranscript(path, &status));
    if (!fd) {
        stop(instance);
        return;
    }
    m_followed[instance] = Followed{path, status.st_size, {}};
}

bool TranscriptWatch::isRefusal(std::string_view line)
{
    if (TranscriptRefusal::saysRefused(line))
        return true;
    // Only lines with a tool's error can say more; most lines are not parsed.
    if (line.find("is_error") == std::string_view::npos)
        return false;
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_object())
        return false;
    const auto message = entry.find("message");
    if (message == entry.end() || !message->is_object())
        return false;
    const auto content = message->find("content");
    if (content == message->end() || !content->is_array())
        return false;
    return std::any_of(content->begin(), content->end(), [](const nlohmann::json &part) {
        return part.is_object() && part.value("type", nlohmann::json()) == "tool_result" &&
               part.value("is_error", nlohmann::json()) == true &&
               part.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                       .find("doesn't want to proceed") != std::string::npos;
    });
}

bool TranscriptWatch::readAppended(Followed &followed, std::vector<std::string> &lines)
{
    struct stat status;
    const HookIo::Descriptor fd(openTranscript(followed.path, &status));
    if (!fd)
        return false;
    if (status.st_size < followed.offset) { // rewritten: start over at its end
        followed.offset = status.st_size;
        followed.partial.clear();
    }
    const off_t size = std::min(status.st_size - followed.offset, readLimit);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const ssize_t read =
        size > 0 ? ::pread(fd.get(), bytes.data(), bytes.size(), followed.offset) : 0;
    if (read < 0)
        return false;
    followed.offset = status.st_size; // beyond the limit, the rest is skipped
    followed.partial.append(bytes, 0, static_cast<std::size_t>(read));
    std::size_t start = 0;
    for (std::size_t end; (end = followed.partial.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(followed.partial.substr(start, end - start));
    followed.partial.erase(0, start);
    if (followed.partial.size() > std::size_t(readLimit))
        followed.partial.clear();
    return true;
}

std::vector<std::string> TranscriptWatch::poll()
{
    std::vector<std::string> refused;
    for (auto &[instance, followed] : m_followed) {
        std::vector<std::string> lines;
        if (readAppended(followed, lines) && std::any_of(lines.begin(), lines.end(), isRefusal))
            refused.push_back(instance);
    }
    for (const std::string &instance : refused)
        stop(instance);
    return refused;
}

} // namespace Relay
