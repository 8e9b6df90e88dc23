#pragma once

// The terminal front end of a run.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/progress_line.h"
#include "platform/ui_host.h"
#include "run/run_context.h"

namespace kestra::cli {

// The terminal front end of a run: prints the status lines as the report model
// gets them (coloured on a terminal), draws the box map live when asked, turns
// Ctrl-C into Esc, and keeps the error box it was shown for the exit status.
// A quiet host prints nothing on stdout (the JSON report takes its place).
class CliHost : public platform::UiHost {
  public:
    CliHost(bool colour, bool liveMap, bool quiet = false);
    void Attach(run::RunContext* ctx) { ctx_ = ctx; }
    void ShowProgress(ProgressLine* progress) { progress_ = progress; }

    void DoEvents() override;
    void MessageBox(const std::string& text, const std::string& title,
                    platform::BoxIcon icon) override;
    // Prints the lines still unprinted and, with a live map, redraws the map
    // below them in place; `final` draws the map whatever the time.
    void Refresh(bool final);

    std::string boxText;  // the error box shown after the run, if any

  private:
    // Until then the launch's lines wait for the final refresh: a launch that
    // refuses its volume says why in one line on stderr instead.
    bool RunStarted() const;

    run::RunContext* ctx_ = nullptr;
    bool colour_;
    bool liveMap_;
    bool quiet_;
    ProgressLine* progress_ = nullptr;
    size_t printed_ = 0;
    int mapRows_ = 0;  // rows of the map drawn last, to be redrawn in place
    std::string lastMap_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace kestra::cli
