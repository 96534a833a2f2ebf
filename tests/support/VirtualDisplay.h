// A private X display (Xvfb) for the tests that drive a real file panel, and
// the keys a user would press on it (xdotool).
#pragma once

#include <sys/types.h>

#include <future>
#include <string>
#include <vector>

namespace quill::testing {

class VirtualDisplay {
public:
    // Starts Xvfb on the first free display number from 91 on and points
    // DISPLAY at it; ok() is false when no display could be started.
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ok() const { return pid_ > 0; }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// One xdotool call: its arguments after the program name.
using Keystroke = std::vector<std::string>;
Keystroke key(const std::string& keys);

// Waits (at most `patience` seconds) for a visible window titled `title`,
// gives it the focus (no window manager runs on the display) and sends the
// keystrokes with a short pause between them, again if the window is still
// up. Runs beside the modal loop; true once the window has closed.
std::future<bool> pressKeysIn(const std::string& title, std::vector<Keystroke> keys, int patience = 20);

}  // namespace quill::testing
