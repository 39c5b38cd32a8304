// The desktop loop of an interactive start: GTK on the main thread, the tray
// icon (StatusNotifierItem), the login window in front of the control panel,
// the show-panel requests of a second start, and SIGINT/SIGTERM. Also the
// welcome window and the end-user agreement that start-up shows.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <cstdio>
#include <cstdlib>

#include "engine/log.h"
#include "engine/ui_strings.h"
#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_engine.h"
#include "ui/desktop.h"
#include "ui/panel.h"
#include "ui/ui_internal.h"

namespace {

// A bold title inside a dialog: desktops without a window manager show no title bar.
GtkWidget* title_label(const std::string& text) {
    GtkWidget* title = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<b><big>%s</big></b>", text.c_str());
    gtk_label_set_markup(GTK_LABEL(title), markup);
    g_free(markup);
    return title;
}

struct Desktop {
    PanelLoopArgs args;
    DesktopInfo info;
    Panel* panel = nullptr;
    bool logged_in = false;
    bool tray = false;
    AppIndicator* indicator = nullptr;
    GtkWidget* pause_item = nullptr;
    int exit_code = 0;
};

Desktop* g_desktop = nullptr;
GtkWidget* g_active_dialog = nullptr;  // the modal window now running, if any
bool g_stop = false;                   // SIGINT or SIGTERM arrived
int g_stop_fd = -1;

// Ends the running dialog and the loop: the stop signal, or Exit from the tray.
void quit_desktop() {
    if (g_active_dialog)
        gtk_dialog_response(GTK_DIALOG(g_active_dialog), GTK_RESPONSE_DELETE_EVENT);
    if (gtk_main_level() > 0) gtk_main_quit();
}

gboolean on_stop_signal(gint fd, GIOCondition, gpointer) {
    if (read_stop_signal(fd)) {
        engine_log("UI: stop signal - exiting\n");
        g_stop = true;
        quit_desktop();
    }
    return G_SOURCE_CONTINUE;
}

void watch_stop_signals() {
    if (g_stop_fd >= 0) return;
    g_stop_fd = open_stop_signal_fd();
    if (g_stop_fd >= 0) g_unix_fd_add(g_stop_fd, G_IO_IN, on_stop_signal, nullptr);
}

// Runs a modal window that a stop signal can end.
int run_dialog(GtkWidget* dlg) {
    watch_stop_signals();
    g_active_dialog = dlg;
    const int r = gtk_dialog_run(GTK_DIALOG(dlg));
    g_active_dialog = nullptr;
    return r;
}

// Start-up windows run before the loop: a stop signal there ends the process.
void exit_if_stopped() {
    if (!g_stop) return;
    std::fflush(stdout);
    std::_Exit(0);
}

void name(GtkWidget* w, const char* n) {
    atk_object_set_name(gtk_widget_get_accessible(w), n);
}

// The administrator password before the panel opens (once per run).
bool login(Desktop& d) {
    if (d.logged_in) return true;
    const bool ar = panel_arabic(*d.panel);
    GtkWidget* dlg =
        gtk_dialog_new_with_buttons(ui_text("login_title", ar).c_str(), nullptr, GTK_DIALOG_MODAL,
                                    ui_text("cancel", ar).c_str(), GTK_RESPONSE_CANCEL,
                                    ui_text("login", ar).c_str(), GTK_RESPONSE_OK, nullptr);
    name(dlg, "login_window");
    gtk_widget_set_direction(dlg, ar ? GTK_TEXT_DIR_RTL : GTK_TEXT_DIR_LTR);
    name(gtk_dialog_get_widget_for_response(GTK_DIALOG(dlg), GTK_RESPONSE_OK), "login");
    name(gtk_dialog_get_widget_for_response(GTK_DIALOG(dlg), GTK_RESPONSE_CANCEL), "login_cancel");
    GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
    gtk_container_set_border_width(GTK_CONTAINER(box), 16);
    gtk_box_pack_start(GTK_BOX(box), title_label(ui_text("login_title", ar)), FALSE, FALSE, 6);
    gtk_box_pack_start(GTK_BOX(box), gtk_label_new(ui_text("login_prompt", ar).c_str()), FALSE,
                       FALSE, 6);
    GtkWidget* entry = gtk_entry_new();
    name(entry, "password");
    gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dlg), GTK_RESPONSE_OK);
    gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 6);
    GtkWidget* err = gtk_label_new("");
    name(err, "login_error");
    gtk_box_pack_start(GTK_BOX(box), err, FALSE, FALSE, 6);
    gtk_window_set_default_size(GTK_WINDOW(dlg), 420, -1);
    gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER);
    gtk_widget_show_all(dlg);
    while (!g_stop && run_dialog(dlg) == GTK_RESPONSE_OK) {
        if (equal_constant_time(gtk_entry_get_text(GTK_ENTRY(entry)), d.info.admin_pass)) {
            d.logged_in = true;
            break;
        }
        engine_log("UI: wrong password in the login window\n");
        gtk_label_set_text(GTK_LABEL(err), ui_text("login_wrong", ar).c_str());
        gtk_entry_set_text(GTK_ENTRY(entry), "");
    }
    gtk_widget_destroy(dlg);
    return d.logged_in;
}

void open_panel(Desktop& d) {
    if (login(d)) panel_show(*d.panel);
}

void on_open(GtkMenuItem*, gpointer) {
    open_panel(*g_desktop);
}
void on_pause(GtkMenuItem*, gpointer) {
    panel_toggle_pause(*g_desktop->panel);
}
void on_copy(GtkMenuItem*, gpointer) {
    const std::string link = panel_main_link(*g_desktop->panel);
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), link.c_str(), -1);
}
void on_exit(GtkMenuItem*, gpointer) {
    engine_log("UI: exit from the tray menu\n");
    quit_desktop();
}

gboolean on_tray_tick(gpointer) {
    Desktop& d = *g_desktop;
    const bool ar = panel_arabic(*d.panel);
    gtk_menu_item_set_label(GTK_MENU_ITEM(d.pause_item),
                            ui_text(streaming_paused.load() ? "resume" : "pause", ar).c_str());
    return G_SOURCE_CONTINUE;
}

// A StatusNotifierItem is shown only when a host watches for it.
bool tray_host_present() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return false;
    GVariant* r = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    gboolean has = FALSE;
    if (r) {
        g_variant_get(r, "(b)", &has);
        g_variant_unref(r);
    }
    g_object_unref(bus);
    return has;
}

void start_tray(Desktop& d) {
    const bool ar = d.info.lang == "ar";
    GtkWidget* menu = gtk_menu_new();
    auto item = [&](const char* id, GCallback cb) {
        GtkWidget* i = gtk_menu_item_new_with_label(ui_text(id, ar).c_str());
        g_signal_connect(i, "activate", cb, nullptr);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), i);
        return i;
    };
    item("tray_open", G_CALLBACK(on_open));
    d.pause_item = item("pause", G_CALLBACK(on_pause));
    item("tray_copy", G_CALLBACK(on_copy));
    item("tray_exit", G_CALLBACK(on_exit));
    gtk_widget_show_all(menu);
    d.indicator =
        app_indicator_new("zeb-onvif", "camera-web", APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    app_indicator_set_title(d.indicator, ui_text("app_title", ar).c_str());
    app_indicator_set_menu(d.indicator, GTK_MENU(menu));
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    app_indicator_set_secondary_activate_target(d.indicator, GTK_WIDGET(items->data));
    g_list_free(items);
    app_indicator_set_status(d.indicator, APP_INDICATOR_STATUS_ACTIVE);
    g_timeout_add(1000, on_tray_tick, nullptr);
    d.tray = tray_host_present();
    if (d.tray)
        engine_log("UI: tray icon shown (StatusNotifierItem)\n");
    else
        engine_log(
            "UI: no tray on this desktop (no StatusNotifier host) - the control panel stays "
            "on the taskbar and a second start opens it\n");
}

gboolean on_show_request(gint fd, GIOCondition, gpointer) {
    if (drain_panel_requests(fd) > 0) {
        engine_log("Panel: show-panel request received\n");
        open_panel(*g_desktop);
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace

bool panel_tray_present() {
    return g_desktop && g_desktop->tray;
}

bool desktop_available() {
    static int state = -1;
    if (state < 0) state = gtk_init_check(nullptr, nullptr) ? 1 : 0;
    return state == 1;
}

int run_desktop_loop(const PanelLoopArgs& args, const DesktopInfo& info) {
    if (!desktop_available()) {
        engine_log("UI: no desktop display - running without a window\n");
        return run_control_panel_loop(args);
    }
    static Desktop d;
    d.args = args;
    d.info = info;
    g_desktop = &d;
    d.panel = panel_new(args, info, [] {
        engine_log("UI: Apply & restart - this process ends for the relaunched one\n");
        g_desktop->exit_code = 0;
        gtk_main_quit();
    });
    watch_stop_signals();
    const int req = args.panel_only ? -1 : open_panel_request_socket(args.data_dir);
    if (req >= 0) g_unix_fd_add(req, G_IO_IN, on_show_request, nullptr);
    if (args.show_icon && !args.panel_only) start_tray(d);
    if (args.open_window || args.panel_only || !d.tray) {
        // Deferred so that the loop is running when the login window appears.
        g_idle_add(
            [](gpointer) -> gboolean {
                open_panel(*g_desktop);
                return G_SOURCE_REMOVE;
            },
            nullptr);
    }
    gtk_main();
    close_panel_request_socket(req, args.data_dir);
    return d.exit_code;
}

void show_welcome_window(const WelcomeValues& v, bool ar) {
    if (!desktop_available()) return;
    GtkWidget* dlg =
        gtk_dialog_new_with_buttons(ui_text("welcome_title", ar).c_str(), nullptr, GTK_DIALOG_MODAL,
                                    ui_text("welcome_ok", ar).c_str(), GTK_RESPONSE_OK, nullptr);
    name(dlg, "welcome_window");
    name(gtk_dialog_get_widget_for_response(GTK_DIALOG(dlg), GTK_RESPONSE_OK), "welcome_ok");
    gtk_widget_set_direction(dlg, ar ? GTK_TEXT_DIR_RTL : GTK_TEXT_DIR_LTR);
    cairo_surface_t* pic = render_welcome(v, ar);
    GtkWidget* image = gtk_image_new_from_surface(pic);
    cairo_surface_destroy(pic);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dlg))), image, FALSE, FALSE,
                       0);
    gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER);
    gtk_widget_show_all(dlg);
    engine_log("UI: welcome window shown\n");
    run_dialog(dlg);
    gtk_widget_destroy(dlg);
    while (gtk_events_pending()) gtk_main_iteration();
    exit_if_stopped();
}

bool show_agreement(bool ar) {
    if (!desktop_available()) return false;
    GtkWidget* dlg = gtk_dialog_new_with_buttons(
        ui_text("eula_title", ar).c_str(), nullptr, GTK_DIALOG_MODAL,
        ui_text("eula_decline", ar).c_str(), GTK_RESPONSE_CANCEL,
        ui_text("eula_accept", ar).c_str(), GTK_RESPONSE_ACCEPT, nullptr);
    name(dlg, "agreement_window");
    name(gtk_dialog_get_widget_for_response(GTK_DIALOG(dlg), GTK_RESPONSE_ACCEPT), "eula_accept");
    name(gtk_dialog_get_widget_for_response(GTK_DIALOG(dlg), GTK_RESPONSE_CANCEL), "eula_decline");
    gtk_widget_set_direction(dlg, ar ? GTK_TEXT_DIR_RTL : GTK_TEXT_DIR_LTR);
    GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(dlg));
    gtk_container_set_border_width(GTK_CONTAINER(box), 16);
    gtk_box_pack_start(GTK_BOX(box), title_label(ui_text("eula_title", ar)), FALSE, FALSE, 6);
    GtkWidget* text = gtk_label_new(ui_text("eula_body", ar).c_str());
    gtk_label_set_line_wrap(GTK_LABEL(text), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(text), 60);
    gtk_box_pack_start(GTK_BOX(box), text, TRUE, TRUE, 6);
    gtk_window_set_default_size(GTK_WINDOW(dlg), 560, 300);
    gtk_window_set_position(GTK_WINDOW(dlg), GTK_WIN_POS_CENTER);
    gtk_widget_show_all(dlg);
    engine_log("UI: end-user agreement shown\n");
    const bool accepted = run_dialog(dlg) == GTK_RESPONSE_ACCEPT;
    gtk_widget_destroy(dlg);
    while (gtk_events_pending()) gtk_main_iteration();
    exit_if_stopped();
    return accepted;
}
