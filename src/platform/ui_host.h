#pragma once

// The windowing services the core calls during a run.

#include <functional>
#include <string>

namespace kestra::platform {

enum class BoxIcon { Information, Stop };

// The services of the windowing system that the core calls while it runs.
class UiHost {
  public:
    virtual ~UiHost() = default;
    // Lets pending window events (paints, keys, close requests) run.
    virtual void DoEvents() {}
    virtual void Beep() {}
    virtual void MessageBox(const std::string& /*text*/, const std::string& /*title*/,
                            BoxIcon /*icon*/) {}
    virtual void BringToFront() {}
    virtual void SetBusyPointer(bool /*busy*/) {}
    // Repaints the run window at once.
    virtual void RepaintNow() {}
};

// The host of the terminal front end and of tests: nothing to show; it counts
// event rounds and can run a hook on each (a test's "key press").
class QuietUiHost : public UiHost {
  public:
    void DoEvents() override {
        ++eventRounds;
        if (onEvents) onEvents();
    }
    void Beep() override { ++beeps; }
    void MessageBox(const std::string& text, const std::string& title, BoxIcon icon) override {
        lastBoxText = text;
        lastBoxTitle = title;
        lastBoxIcon = icon;
        ++boxes;
    }

    long eventRounds = 0;
    int beeps = 0;
    int boxes = 0;
    std::string lastBoxText;
    std::string lastBoxTitle;
    BoxIcon lastBoxIcon = BoxIcon::Information;
    std::function<void()> onEvents;
};

}  // namespace kestra::platform
