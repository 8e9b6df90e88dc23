#include "cli/cli_host.h"

#include <iostream>

#include "display/ansi_map.h"
#include "platform/terminal.h"
#include "run/run_driver.h"

namespace kestra::cli {
namespace {

// SGR colour of the text area's palette numbers on a terminal.
const char* ColourOf(int palette) {
    switch (palette) {
        case 12:
            return "\x1b[91m";  // light red: errors
        case 4:
            return "\x1b[31m";  // dark red: notices
        default:
            return "";
    }
}

}  // namespace

CliHost::CliHost(bool colour, bool liveMap, bool quiet)
    : colour_(colour), liveMap_(liveMap && !quiet), quiet_(quiet) {}

void CliHost::DoEvents() {
    if (!ctx_) return;
    // A stop that came before the run began (which clears the request) is made
    // again until the run has seen it.
    platform::TakeInterrupt();
    if (platform::StopSignalled() && !ctx_->RunDone && !ctx_->flags.CloseRequested)
        run::Form_KeyDown(*ctx_, 27);
    if (RunStarted()) Refresh(false);
    if (progress_) progress_->Update(*ctx_);
}

bool CliHost::RunStarted() const {
    return ctx_ && ctx_->mode.RunPass > 0;
}

void CliHost::Refresh(bool final) {
    if (!ctx_ || quiet_) return;
    const auto& lines = ctx_->report.Main.Text.Lines;
    if (lines.size() < printed_) printed_ = 0;  // the text area was cleared
    const bool newLines = printed_ < lines.size();
    std::string map;
    if (liveMap_ || final) {
        // A map string is costly next to one scan step: a few redraws a second do.
        const auto now = std::chrono::steady_clock::now();
        if (final || now - lastDraw_ > std::chrono::milliseconds(150)) {
            lastDraw_ = now;
            if (ctx_->map.UpperBound() > 0)
                map = colour_ ? display::AnsiMap(ctx_->map.MapBoxes, ctx_->Legend())
                              : display::PlainMap(ctx_->map.MapBoxes, ctx_->Legend());
        } else {
            map = lastMap_;
        }
    }
    const bool mapChanged = !map.empty() && map != lastMap_;
    if (!newLines && !mapChanged && !(final && !map.empty() && mapRows_ == 0)) return;
    if (progress_) progress_->Clear();
    if (mapRows_ > 0) std::cout << "\x1b[" << mapRows_ << "F\x1b[J";
    mapRows_ = 0;
    for (; printed_ < lines.size(); ++printed_) {
        const auto& line = lines[printed_];
        const char* sgr = colour_ ? ColourOf(line.Colour) : "";
        std::cout << sgr << line.Text << (*sgr ? "\x1b[0m" : "") << "\n";
    }
    if (!map.empty()) {
        std::cout << map;
        if (map.back() != '\n') std::cout << "\n";
        lastMap_ = map;
        // Only a live map on a terminal is drawn over again.
        if (liveMap_) {
            for (const char c : map)
                mapRows_ += c == '\n';
            if (map.back() != '\n') ++mapRows_;
        }
    }
    std::cout.flush();
}

void CliHost::MessageBox(const std::string& text, const std::string&, platform::BoxIcon) {
    if (RunStarted()) Refresh(false);
    boxText = text;
    if (progress_) progress_->Clear();
    for (const char c : text) {
        if (c != '\r') std::cerr << c;
    }
    std::cerr << "\n";
}

}  // namespace kestra::cli
