#pragma once

#include "session.h"

class SessionListModel;

#include <QIcon>
#include <QString>

// What the tray icon says about all sessions at once.
namespace TrayStatus {

struct Counts
{
    int working = 0;
    int failed = 0;  // the last turn ended on an error
    int waiting = 0; // waiting for the user's input
    bool operator==(const Counts &) const = default;
};

// Sessions whose process has exited count as neither.
Counts count(const SessionListModel &sessions);

// "Tolvo — 2 working, 1 failed, 1 waiting for input", or "Tolvo — idle".
QString toolTip(const Counts &counts);

// The worst state: red while any session waits for input, purple while any
// failed, yellow while any works, gray otherwise.
StatusColor color(const Counts &counts);

// Tolvo's logo with a dot of that colour in its lower right corner.
QIcon icon(StatusColor color);

} // namespace TrayStatus
