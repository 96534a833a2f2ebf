// NSOpenPanel: a GTK 3 file chooser run modally on the calling thread.
//
// GTK is loaded (dlopen) the first time a panel is to be shown, never at
// start-up: a server without a desktop installs and runs everything else
// without it, and a panel there answers cancel and says why in the log.
#include "NSOpenPanel.h"

#include <dlfcn.h>
#include <gtk/gtk.h>
#include <syslog.h>

#include <cstdlib>
#include <string>
#include <type_traits>

namespace {

// The GTK and GLib calls the panel makes, found in libgtk-3 once loaded.
struct Gtk {
    gboolean (*init_check)(int*, char***);
    gboolean (*events_pending)();
    gboolean (*main_iteration_do)(gboolean);
    GtkWidget* (*file_chooser_dialog_new)(const gchar*, GtkWindow*, GtkFileChooserAction, const gchar*, ...);
    void (*dialog_set_default_response)(GtkDialog*, gint);
    gint (*dialog_run)(GtkDialog*);
    void (*file_chooser_set_select_multiple)(GtkFileChooser*, gboolean);
    void (*file_chooser_set_local_only)(GtkFileChooser*, gboolean);
    gboolean (*file_chooser_set_current_folder)(GtkFileChooser*, const gchar*);
    void (*file_chooser_add_filter)(GtkFileChooser*, GtkFileFilter*);
    GSList* (*file_chooser_get_filenames)(GtkFileChooser*);
    GtkFileFilter* (*file_filter_new)();
    void (*file_filter_add_pattern)(GtkFileFilter*, const gchar*);
    void (*file_filter_set_name)(GtkFileFilter*, const gchar*);
    void (*window_set_modal)(GtkWindow*, gboolean);
    void (*window_set_keep_above)(GtkWindow*, gboolean);
    void (*widget_destroy)(GtkWidget*);
    void (*free)(gpointer);
    void (*slist_free)(GSList*);
};

// The calls, or null with the reason in `why`. Loaded once per process; the
// library stays loaded (GTK cannot be unloaded safely).
const Gtk* loadGtk(std::string& why) {
    static Gtk gtk;
    static std::string failure;
    static bool tried = false;
    if (tried) {
        why = failure;
        return failure.empty() ? &gtk : nullptr;
    }
    tried = true;
    void* lib = ::dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (!lib) {
        const char* e = ::dlerror();
        failure = std::string("GTK 3 is not installed (libgtk-3.so.0: ") + (e ? e : "not found") +
                  "); install the package libgtk-3-0 for file panels";
        why = failure;
        return nullptr;
    }
    bool missing = false;
    auto find = [&](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
        if (!fn && !missing) {
            missing = true;
            failure = std::string("libgtk-3.so.0 lacks ") + name;
        }
    };
    find(gtk.init_check, "gtk_init_check");
    find(gtk.events_pending, "gtk_events_pending");
    find(gtk.main_iteration_do, "gtk_main_iteration_do");
    find(gtk.file_chooser_dialog_new, "gtk_file_chooser_dialog_new");
    find(gtk.dialog_set_default_response, "gtk_dialog_set_default_response");
    find(gtk.dialog_run, "gtk_dialog_run");
    find(gtk.file_chooser_set_select_multiple, "gtk_file_chooser_set_select_multiple");
    find(gtk.file_chooser_set_local_only, "gtk_file_chooser_set_local_only");
    find(gtk.file_chooser_set_current_folder, "gtk_file_chooser_set_current_folder");
    find(gtk.file_chooser_add_filter, "gtk_file_chooser_add_filter");
    find(gtk.file_chooser_get_filenames, "gtk_file_chooser_get_filenames");
    find(gtk.file_filter_new, "gtk_file_filter_new");
    find(gtk.file_filter_add_pattern, "gtk_file_filter_add_pattern");
    find(gtk.file_filter_set_name, "gtk_file_filter_set_name");
    find(gtk.window_set_modal, "gtk_window_set_modal");
    find(gtk.window_set_keep_above, "gtk_window_set_keep_above");
    find(gtk.widget_destroy, "gtk_widget_destroy");
    find(gtk.free, "g_free");
    find(gtk.slist_free, "g_slist_free");
    why = failure;
    return missing ? nullptr : &gtk;
}

// GTK is initialised once per process; the outcome is kept, because
// gtk_init_check cannot be retried after it has failed.
enum class GtkState { Unknown, Ready, Failed };
GtkState gGtk = GtkState::Unknown;

const Gtk* haveDisplay(std::string& why) {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!w || !*w)) {
        why = "no display (DISPLAY and WAYLAND_DISPLAY are not set)";
        return nullptr;
    }
    const Gtk* gtk = loadGtk(why);
    if (!gtk) return nullptr;
    if (gGtk == GtkState::Unknown) gGtk = gtk->init_check(nullptr, nullptr) ? GtkState::Ready : GtkState::Failed;
    if (gGtk == GtkState::Failed) {
        why = std::string("GTK cannot open the display ") + (x && *x ? x : (w ? w : ""));
        return nullptr;
    }
    return gtk;
}

void drainEvents(const Gtk& gtk) {
    while (gtk.events_pending()) gtk.main_iteration_do(FALSE);
}

}  // namespace

std::shared_ptr<NSOpenPanel> NSOpenPanel::openPanel() {
    return std::make_shared<NSOpenPanel>();
}

NSModalResponse NSOpenPanel::runModal() {
    urls_.clear();
    std::string why;
    const Gtk* g = haveDisplay(why);
    if (!g) {
        syslog(LOG_NOTICE, "open panel not shown, answering cancel: %s", why.c_str());
        return NSModalResponseCancel;
    }
    const bool folders = canChooseDirectories_ && !canChooseFiles_;
    const std::string title = title_.length() ? title_.UTF8String() : (folders ? "Choose a Folder" : "Open");
    // "C_hoose": with "_Choose" both buttons would answer alt+C, which then only
    // moves the focus between them.
    const Gtk& gtk = *g;
    GtkWidget* dialog = gtk.file_chooser_dialog_new(
        title.c_str(), nullptr, folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
        "_Cancel", GTK_RESPONSE_CANCEL, folders ? "C_hoose" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    // Plain casts: the checked-cast macros would call into GObject directly.
    auto* chooser = reinterpret_cast<GtkFileChooser*>(dialog);
    auto* window = reinterpret_cast<GtkWindow*>(dialog);
    gtk.dialog_set_default_response(reinterpret_cast<GtkDialog*>(dialog), GTK_RESPONSE_ACCEPT);
    gtk.file_chooser_set_select_multiple(chooser, multiple_ ? TRUE : FALSE);
    gtk.file_chooser_set_local_only(chooser, TRUE);
    gtk.window_set_modal(window, TRUE);
    if (floating_) gtk.window_set_keep_above(window, TRUE);
    if (!folders && !types_.empty()) {
        GtkFileFilter* filter = gtk.file_filter_new();
        std::string name;
        for (const auto& t : types_) {
            const std::string pattern = "*." + t.UTF8String();
            gtk.file_filter_add_pattern(filter, pattern.c_str());
            name += (name.empty() ? "" : ", ") + pattern;
        }
        gtk.file_filter_set_name(filter, name.c_str());
        gtk.file_chooser_add_filter(chooser, filter);  // the chooser takes the filter over
    }
    const std::string start = directory_.isFileURL() ? directory_.path().UTF8String()
                                                     : std::string(std::getenv("HOME") ? std::getenv("HOME") : "/");
    gtk.file_chooser_set_current_folder(chooser, start.c_str());

    const gint response = gtk.dialog_run(reinterpret_cast<GtkDialog*>(dialog));
    if (response == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk.file_chooser_get_filenames(chooser);
        for (GSList* n = names; n; n = n->next) {
            const auto* path = static_cast<const char*>(n->data);
            if (const auto s = NSString::stringWithUTF8String(path)) urls_.push_back(NSURL::fileURLWithPath(*s));
            gtk.free(n->data);
        }
        gtk.slist_free(names);
    }
    gtk.widget_destroy(dialog);
    drainEvents(gtk);
    return urls_.empty() ? NSModalResponseCancel : NSModalResponseOK;
}
