#pragma once

// How an agent records in a session's transcript that the user turned down
// its permission prompt, which no hook reports. Plain C++, for the hook
// helper's relay and for Tolvo.

#include <string_view>

namespace TranscriptRefusal {

// Claude Code: an entry with this text (Escape at the dialog).
inline constexpr std::string_view claudeInterrupted = "[Request interrupted by user";

// Gemini CLI's chat file gets this entry when Escape cancels its prompt:
// {"id":…,"timestamp":…,"type":"info","content":"Request cancelled."}. Text
// of the user's or the model's comes escaped, so its quotes never match.
inline constexpr std::string_view geminiCancelled =
    R"("type":"info","content":"Request cancelled.")";

// Whether a line says so on its own, without parsing it.
constexpr bool saysRefused(std::string_view line)
{
    return line.find(claudeInterrupted) != std::string_view::npos ||
           line.find(geminiCancelled) != std::string_view::npos;
}

} // namespace TranscriptRefusal
