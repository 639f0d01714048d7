#pragma once

#include <QString>

// Coarse state of a Claude Code session. Each case stands for a fixed text,
// which is what is written wherever a status must be shown as text, and a
// token that scripts read (`tolvoctl status --json`).
enum class SessionStatus { off, ready, working, waitingForInput, failed };

QString statusText(SessionStatus status);
// "off", "ready", "working", "waiting", "failed".
QString statusToken(SessionStatus status);
