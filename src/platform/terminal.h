#pragma once

#include <string>

namespace kestra::platform {

bool IsTerminal(int fd);

// Ctrl-C only notes the request; the run takes it at its next unit of work.
void WatchInterrupts();
// True once for every Ctrl-C since the last call.
bool TakeInterrupt();

// Appends the text of a run's log to a file (CR LF after it); empty on success.
std::string AppendTextFile(const std::string& path, const std::string& text, bool create);

}  // namespace kestra::platform
