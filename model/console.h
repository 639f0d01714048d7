#pragma once

#include <QString>
#include <functional>

// Diagnostic lines on standard output. Each line is written and flushed at
// once, so the order survives even when stdout is a file or a pipe.
namespace Console {

void line(const QString &text);

// Tests observe the lines through a sink; pass an empty function to detach.
// The sink runs after the line has been written, on the writing thread.
using Sink = std::function<void(const QString &)>;
void setSink(Sink sink);

} // namespace Console
