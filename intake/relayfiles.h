#pragma once

// What the relay daemon owns in ~/.tolvo: its lock and socket, and what
// Tolvo creates there locally (the event pipe, its writers' lock, tolvo.pid,
// the bound file hold). Each is removed on the way out only while it is
// still the one the daemon made, so that a Tolvo started here meanwhile
// keeps its own. Plain C++.

#include "hookio.h"
#include "permissionhold.h"

#include <string>
#include <sys/types.h>

namespace Relay {

class Files
{
public:
    // The folder and the daemon's lock. False with `problem` empty when
    // another daemon holds the lock, with one sentence when the folder is
    // unusable or Tolvo itself runs here.
    bool lock(std::string *problem);
    // The event pipe, the writers' lock, the relay and answers sockets, and
    // tolvo.pid.
    bool create(std::string *problem);
    // Everything `create` and writeHold made that is still theirs.
    void remove();

    int directory() const { return m_directory.get(); }
    int events() const { return m_events.get(); }
    int listener() const { return m_listener.get(); }
    int answers() const { return m_answers.get(); }

    // Whether ~/.tolvo was removed (with everything in it) since.
    bool folderRemoved() const;
    // Whether tolvo.pid names a live process that is not a relay: Tolvo itself.
    bool tolvoRuns(std::string *problem) const;
    // Makes the pipe anew when its name no longer leads to the one read;
    // false when that fails. What the old one held must be read first.
    bool pipeReplaced() const;
    bool recreatePipe(std::string *problem);

    // The bound for waiting helpers; no seconds removes the file.
    void writeHold(const PermissionHold::Bound &bound);

private:
    struct Made
    {
        dev_t device = 0;
        ino_t inode = 0;
    };
    bool replaceFile(const char *name, const std::string &content, Made *made);
    bool listen(const char *name, HookIo::Descriptor &listener, Made &made, std::string *problem);
    void removeIfMade(const char *name, Made &made);

    HookIo::Descriptor m_directory;
    HookIo::Descriptor m_lock;
    HookIo::Descriptor m_events;
    HookIo::Descriptor m_listener;
    HookIo::Descriptor m_answers;
    Made m_eventsMade, m_socketMade, m_answersMade, m_pidMade, m_holdMade;
};

} // namespace Relay
