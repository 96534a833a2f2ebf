// NSOpenPanel: a GTK 3 file chooser run modally on the calling thread.
#include "NSOpenPanel.h"

#include <gtk/gtk.h>
#include <syslog.h>

#include <cstdlib>
#include <string>

namespace {

// GTK is initialised once per process; the outcome is kept, because
// gtk_init_check cannot be retried after it has failed.
enum class GtkState { Unknown, Ready, Failed };
GtkState gGtk = GtkState::Unknown;

bool haveDisplay(std::string& why) {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!w || !*w)) {
        why = "no display (DISPLAY and WAYLAND_DISPLAY are not set)";
        return false;
    }
    if (gGtk == GtkState::Unknown) gGtk = gtk_init_check(nullptr, nullptr) ? GtkState::Ready : GtkState::Failed;
    if (gGtk == GtkState::Failed) {
        why = std::string("GTK cannot open the display ") + (x && *x ? x : (w ? w : ""));
        return false;
    }
    return true;
}

void drainEvents() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

}  // namespace

std::shared_ptr<NSOpenPanel> NSOpenPanel::openPanel() {
    return std::make_shared<NSOpenPanel>();
}

NSModalResponse NSOpenPanel::runModal() {
    urls_.clear();
    std::string why;
    if (!haveDisplay(why)) {
        syslog(LOG_NOTICE, "open panel not shown, answering cancel: %s", why.c_str());
        return NSModalResponseCancel;
    }
    const bool folders = canChooseDirectories_ && !canChooseFiles_;
    const std::string title = title_.length() ? title_.UTF8String() : (folders ? "Choose a Folder" : "Open");
    // "C_hoose": with "_Choose" both buttons would answer alt+C, which then only
    // moves the focus between them.
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title.c_str(), nullptr, folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
        "_Cancel", GTK_RESPONSE_CANCEL, folders ? "C_hoose" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_select_multiple(chooser, multiple_ ? TRUE : FALSE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    if (floating_) gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    if (!folders && !types_.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        std::string name;
        for (const auto& t : types_) {
            const std::string pattern = "*." + t.UTF8String();
            gtk_file_filter_add_pattern(filter, pattern.c_str());
            name += (name.empty() ? "" : ", ") + pattern;
        }
        gtk_file_filter_set_name(filter, name.c_str());
        gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the filter over
    }
    const std::string start = directory_.isFileURL() ? directory_.path().UTF8String()
                                                     : std::string(std::getenv("HOME") ? std::getenv("HOME") : "/");
    gtk_file_chooser_set_current_folder(chooser, start.c_str());

    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        for (GSList* n = names; n; n = n->next) {
            const auto* path = static_cast<const char*>(n->data);
            if (const auto s = NSString::stringWithUTF8String(path)) urls_.push_back(NSURL::fileURLWithPath(*s));
            g_free(n->data);
        }
        g_slist_free(names);
    }
    gtk_widget_destroy(dialog);
    drainEvents();
    return urls_.empty() ? NSModalResponseCancel : NSModalResponseOK;
}
