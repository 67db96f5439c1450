#include "app/theme_marks.h"

#include <wx/defs.h>

#ifdef __WXGTK3__
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtk/gtk.h>

namespace {

#define OMBRIK_ADWAITA_ASSET(name) "url(\"resource:///org/gtk/libgtk/theme/Adwaita/assets/" name "\")"
#define OMBRIK_MARK(name) "-gtk-icon-source: -gtk-recolor(" OMBRIK_ADWAITA_ASSET(name ".symbolic.png") ");"

// The theme's rules that name SVG marks, and the more specific ones of its rules that take
// precedence over them: a provider above the theme wins whatever the theme's selectors, so the
// content views' check boxes keep the theme's own marks here too.
constexpr char kMarks[] =
    "check:checked {" OMBRIK_MARK("check-symbolic") "}"
    "check:indeterminate, radio:indeterminate {" OMBRIK_MARK("dash-symbolic") "}"
    "radio:checked {" OMBRIK_MARK("bullet-symbolic") "}"
    ".content-view:not(list) check { -gtk-icon-source: none; }"
    ".content-view:not(list) check:checked { -gtk-icon-source: -gtk-icontheme('object-select-symbolic'); }";

#undef OMBRIK_MARK
#undef OMBRIK_ADWAITA_ASSET

GtkCssProvider* marks = nullptr;
bool marks_added = false;

// The bitmaps are drawn for scale 1; a screen drawn at a larger scale keeps the SVG images.
bool EveryMonitorAtScaleOne(GdkDisplay* display) {
    for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        if (monitor != nullptr && gdk_monitor_get_scale_factor(monitor) != 1) return false;
    }
    return true;
}

// The theme in force: GTK_THEME (name[:variant]) overrides the desktop's setting.
bool AdwaitaInUse(GtkSettings* settings) {
    if (const char* forced = std::getenv("GTK_THEME"); forced != nullptr && *forced != '\0')
        return std::string(forced, std::strcspn(forced, ":")) == "Adwaita";
    gchar* name = nullptr;
    g_object_get(settings, "gtk-theme-name", &name, nullptr);
    const bool adwaita = name != nullptr && std::strcmp(name, "Adwaita") == 0;
    g_free(name);
    return adwaita;
}

// Follows the theme as the desktop changes it.
void Update(GtkSettings* settings) {
    GdkScreen* screen = gdk_screen_get_default();
    if (screen == nullptr) return;
    const bool wanted = AdwaitaInUse(settings) && EveryMonitorAtScaleOne(gdk_screen_get_display(screen));
    if (wanted == marks_added) return;
    if (wanted)
        // GTK puts the theme itself at the settings' priority: just above it, and still below
        // anything the user's own style sheet says.
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(marks),
                                                  GTK_STYLE_PROVIDER_PRIORITY_SETTINGS + 1);
    else
        gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(marks));
    marks_added = wanted;
}

void OnThemeChanged(GObject* settings, GParamSpec*, gpointer) { Update(GTK_SETTINGS(settings)); }

}  // namespace

void DrawThemeMarksFromBitmaps() {
    GtkSettings* settings = gtk_settings_get_default();
    if (marks != nullptr || settings == nullptr) return;
    marks = gtk_css_provider_new();
    if (!gtk_css_provider_load_from_data(marks, kMarks, -1, nullptr)) {
        g_clear_object(&marks);
        return;
    }
    g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(OnThemeChanged), nullptr);
    Update(settings);
}
#else
void DrawThemeMarksFromBitmaps() {}
#endif
