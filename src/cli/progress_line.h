#pragma once

// The progress line on stderr.

#include <chrono>
#include <cstdint>
#include <string>

#include "run/run_context.h"

namespace kestra::cli {

// One line on stderr, drawn over again as the run goes: the phase, the files
// and megabytes moved so far, and the time left at the rate so far. It never
// touches stdout or the run's status lines.
class ProgressLine {
  public:
    explicit ProgressLine(bool terminal) : terminal_(terminal) {}

    // At the start of the moves: how many clusters the run will move, roughly
    // (the fragmented files, and with a pack every used cluster above the first
    // gap), for the time left.
    void StartMoves(const run::RunContext& ctx);
    // Redrawn a few times a second at most; the final one whatever the time.
    void Update(const run::RunContext& ctx, bool final = false);
    // Takes the line away before other output; on a file it ends the line.
    void Clear();

  private:
    bool terminal_;
    bool shown_ = false;
    size_t width_ = 0;
    uint64_t estimate_ = 0;  // clusters to move; 0 before the moves start
    std::chrono::steady_clock::time_point movesStart_{};
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace kestra::cli
