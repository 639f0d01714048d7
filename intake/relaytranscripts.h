#pragma once

// Whether the user refused a permission dialog in the terminal, told by the
// session's transcript (a JSON line per entry), for the relay daemon. Plain
// C++; the desktop's own follower reads the same lines the same way.

#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace Relay {

class TranscriptWatch
{
public:
    static constexpr int pollMs = 250;
    // At most this much is read at each poll; the rest is skipped.
    static constexpr off_t readLimit = 4 << 20;

    // Follows the transcript at `path` from its end on. A transcript already
    // followed for the instance stays where it is.
    void follow(const std::string &instance, const std::string &path);
    void stop(const std::string &instance) { m_followed.erase(instance); }
    bool empty() const { return m_followed.empty(); }

    // Reads what was appended since; the instances whose transcript shows a
    // refusal, which are no longer followed.
    std::vector<std::string> poll();

    // A line of the transcript that says the user interrupted the request or
    // turned the tool down.
    static bool isRefusal(std::string_view line);

private:
    struct Followed
    {
        std::string path;
        off_t offset = 0;
        std::string partial;
    };
    static bool readAppended(Followed &followed, std::vector<std::string> &lines);
    std::unordered_map<std::string, Followed> m_followed;
};

} // namespace Relay
