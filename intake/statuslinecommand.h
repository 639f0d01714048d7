#pragma once

// The user's own status-line command, run by tolvo-hook --status-line while it
// reports the input to Tolvo. Plain C++, no Qt.

#include <string_view>

namespace StatusLineCommand {

// Set for the user's command: a Tolvo command among it reports nothing again.
inline constexpr const char *variable = "TOLVO_STATUS_LINE";

// Runs `command` as /bin/sh would (a command of plain words without it) in a
// process group of its own, its standard input the status-line input, its
// output the helper's; its exit status, or 0 when it did not end in time (its
// line stays empty). A signal that ends the helper ends the command too.
// `meanwhile(context)` runs once the command has started, before it is waited for.
int run(const char *command, std::string_view input, void (*meanwhile)(void *) = nullptr,
        void *context = nullptr);

} // namespace StatusLineCommand
