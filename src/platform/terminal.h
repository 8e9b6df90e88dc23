#pragma once

#include <string>

namespace kestra::platform {

bool IsTerminal(int fd);
// A terminal that shows ANSI colours and moves: not when NO_COLOR is set and not
// empty, nor when TERM is unset or "dumb".
bool AnsiTerminal(int fd);

// Ctrl-C only notes the request; the run takes it at its next unit of work.
void WatchInterrupts();
// True once for every Ctrl-C since the last call.
bool TakeInterrupt();

// Appends the text of a run's log to a file (CR LF after it); empty on success.
// Makes sure a log can be written before any work: creates it, or empties it when
// asked; empty on success.
std::string PrepareLogFile(const std::string& path, bool truncate);

std::string AppendTextFile(const std::string& path, const std::string& text, bool create);

}  // namespace kestra::platform
