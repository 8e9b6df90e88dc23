#pragma once

// The terminal and the signals that stop a run.

#include <string>

namespace kestra::platform {

bool IsTerminal(int fd);
// A terminal that shows ANSI colours and moves: not when NO_COLOR is set and not
// empty, nor when TERM is unset or "dumb".
bool AnsiTerminal(int fd);

// Ctrl-C and every other signal that would end the process (TERM, HUP, QUIT)
// only note the request; the run takes it at its next safe point. SIGPIPE is
// ignored: a closed output pipe loses the output, never the write order.
void WatchInterrupts();
// True once for every such signal since the last call.
bool TakeInterrupt();
// True once any such signal came, for good: a stop asked before the run began
// still stops it.
bool StopSignalled();

// Appends the text of a run's log to a file (CR LF after it); empty on success.
// Makes sure a log can be written before any work: creates it, or empties it when
// asked; empty on success.
std::string PrepareLogFile(const std::string& path, bool truncate);

std::string AppendTextFile(const std::string& path, const std::string& text, bool create);

}  // namespace kestra::platform
