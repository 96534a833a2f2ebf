// NSOpenPanel: the standard panel for choosing files or folders, shown as a
// GTK 3 file chooser on the user's display.
//
// runModal runs the GTK main loop on the calling thread until the user
// chooses or cancels (it must be the only thread using GTK). With no display
// (DISPLAY and WAYLAND_DISPLAY unset, or GTK cannot open one) it answers
// NSModalResponseCancel at once and writes the reason to the system log.
#pragma once

#include <memory>
#include <vector>

#include "NSString.h"
#include "NSURL.h"

using NSModalResponse = NSInteger;
inline constexpr NSModalResponse NSModalResponseOK = 1;
inline constexpr NSModalResponse NSModalResponseCancel = 0;
inline constexpr NSModalResponse NSFileHandlingPanelOKButton = 1;
inline constexpr NSModalResponse NSFileHandlingPanelCancelButton = 0;
inline constexpr NSModalResponse NSOKButton = 1;
inline constexpr NSModalResponse NSCancelButton = 0;

class NSOpenPanel {
public:
    static std::shared_ptr<NSOpenPanel> openPanel();

    void setFloatingPanel(bool floating) { floating_ = floating; }  // keep above other windows
    void setCanChooseFiles(bool yes) { canChooseFiles_ = yes; }
    void setCanChooseDirectories(bool yes) { canChooseDirectories_ = yes; }  // folders only when files are off
    void setAllowsMultipleSelection(bool yes) { multiple_ = yes; }
    // File name extensions without the dot ("pdf", "PDF"); empty: any file.
    void setAllowedFileTypes(std::vector<NSString> types) { types_ = std::move(types); }
    void setTitle(const NSString& title) { title_ = title; }
    void setDirectoryURL(const NSURL& url) { directory_ = url; }  // the folder shown first

    // NSModalResponseOK (1) when the user chose, NSModalResponseCancel (0) otherwise.
    NSModalResponse runModal();
    // The chosen items of the last runModal (empty after a cancel).
    std::vector<NSURL> URLs() const { return urls_; }
    NSURL URL() const { return urls_.empty() ? NSURL() : urls_.front(); }

private:
    bool floating_ = false, canChooseFiles_ = true, canChooseDirectories_ = false, multiple_ = false;
    std::vector<NSString> types_;
    NSString title_;
    NSURL directory_;
    std::vector<NSURL> urls_;
};
