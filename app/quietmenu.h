#pragma once

class QMenu;
class QuietState;

// The tray menu's "Do not disturb": for an hour, until tomorrow morning,
// until turned off, or off again; the entry says what holds now.
namespace QuietMenu {

void add(QMenu &menu, QuietState &quiet);

} // namespace QuietMenu
