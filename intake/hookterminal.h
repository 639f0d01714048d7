#pragma once

// Where a hook runs, for the hook helper: plain C++, no Qt.

#include "hookrecord.h"

#include <string>

namespace HookTerminal {

// The terminal's environment variables that are set (TerminalVariables),
// then the pseudo-terminal of the process `pid` (Claude Code's, as the hook
// command's "$PPID" text): its controlling terminal, else the terminal its
// standard input, output or error is connected to.
HookRecord::Terminal of(const std::string &pid);

// The start (4 KiB) of a small file of /proc, such as /proc/PID/comm.
bool readProcFile(const std::string &path, std::string &text);

} // namespace HookTerminal
