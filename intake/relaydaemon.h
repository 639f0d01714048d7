#pragma once

// The relay daemon (relay.h), in a process already detached from the
// transport. Plain C++.

namespace Relay {

// Runs the daemon until it is asked to quit or idles out. `status` is closed
// without a word once the daemon listens (or when another daemon holds the
// lock), or gets one sentence that says why it cannot run. The exit status.
int runDaemon(int status);

} // namespace Relay
