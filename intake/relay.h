#pragma once

// Sessions on other machines: on a machine reached by ssh or a container
// exec, `tolvo-hook --relay` plays the part Tolvo plays locally, so that the
// unchanged hook helper there delivers into it, and passes everything on to
// the desktop over the transport's standard input and output. Plain C++ and
// nlohmann-json; no listening port: only unix sockets in the private ~/.tolvo.
//
// Two processes. The client, `tolvo-hook --relay`, is what the transport
// runs: it connects to the daemon's socket ~/.tolvo/relay (starting the
// daemon when nobody listens) and copies bytes both ways between that socket
// and its standard input and output, until either ends. The daemon, forked
// off and detached so that it outlives the transport, owns what Tolvo owns
// locally: the event pipe, its lock, tolvo.pid, the answers socket and,
// while a desktop is connected and holding is on, the file hold. It keeps
// the recent items of every session for the next desktop to connect.
//
// The protocol is one compact JSON object per line, both ways; lines longer
// than longestLine, and anything not understood, are dropped.
//
// Daemon to desktop, on each connect: {"relay":"hello","version":1,
// "epoch":"<16 hex, new at each daemon start>","machine":"<uname -m>"}, every
// stored item oldest first, {"relay":"replayed","live":[instances]}; then
// items as they happen. Stored items are numbered across the daemon's life:
//   {"seq":N,"record":<the helper's record, byte for byte>}
//   {"seq":N,"exited":"<instance>"}    the session's process is gone
//   {"seq":N,"refused":"<instance>"}   the user refused in the terminal
// Not stored: {"relay":"ended","request":ID}, {"relay":"answered",
// "request":ID,"delivered":BOOL}, {"relay":"focused","instance":I,"ok":BOOL,
// "message":TEXT}, {"relay":"error","message":TEXT}, {"relay":"replaced"}.
//
// Desktop to daemon: {"hold":SECONDS,"agents":["claude","codex"]} (no
// "agents": Claude Code's), {"answer":ID,"decision":{...}},
// {"release":ID}, {"focus":INSTANCE}, {"quit":true}.

#include <cstddef>
#include <string_view>

namespace Relay {

inline constexpr int version = 1;

// In ~/.tolvo: the daemon's socket, and the lock it holds for its lifetime.
inline constexpr const char *socketName = "relay";
inline constexpr const char *lockName = "relay.lock";
// The daemon's name in /proc/PID/comm and in tolvo.pid: a tolvo.pid that
// names a live process of another name is Tolvo itself.
inline constexpr const char *processName = "tolvo-relay";

inline constexpr std::size_t longestLine = 16 << 20;

// The program's modes: "--relay" (the client), "--relay-stop" (asks the
// daemon to quit, when one runs); the exit status.
int run(std::string_view mode);

} // namespace Relay
