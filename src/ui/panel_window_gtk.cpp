// The control panel window: status, video, network, users and about tabs,
// refreshed every second, with Apply & restart through the shared settings
// check, export and import of a settings file, and a live language switch.
#include <gtk/gtk.h>

#include <map>
#include <vector>

#include "engine/log.h"
#include "engine/paths.h"
#include "engine/ui_strings.h"
#include "host/relaunch.h"
#include "host/service.h"
#include "ui/firewall_check.h"
#include "ui/panel.h"
#include "ui/panel_model.h"

namespace {

void name(GtkWidget* w, const std::string& n) {
    atk_object_set_name(gtk_widget_get_accessible(w), n.c_str());
}

GtkWidget* label(const std::string& text, const char* acc = nullptr) {
    GtkWidget* l = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(l), 0);
    gtk_label_set_line_wrap(GTK_LABEL(l), TRUE);
    gtk_label_set_selectable(GTK_LABEL(l), FALSE);
    if (acc) name(l, acc);
    return l;
}

GtkWidget* button(const std::string& text, const char* acc, GCallback cb, gpointer data) {
    GtkWidget* b = gtk_button_new_with_label(text.c_str());
    name(b, acc);
    g_signal_connect(b, "clicked", cb, data);
    return b;
}

}  // namespace

struct Panel : PanelModel {
    GtkWidget* window = nullptr;
    GtkWidget* content = nullptr;
    GtkWidget* notebook = nullptr;
    GtkWidget* error = nullptr;
    GtkWidget* status = nullptr;
    GtkWidget* viewers = nullptr;
    GtkWidget* motion = nullptr;
    GtkWidget* ports = nullptr;
    GtkWidget* pause = nullptr;
    GtkWidget* file_path = nullptr;
    GtkWidget* file_result = nullptr;
    GtkWidget* firewall = nullptr;
    std::map<std::string, GtkWidget*> inputs;
    // Texts that follow the language: widget, text id, untranslated tail.
    struct Text {
        GtkWidget* widget;
        const char* id;
        std::string tail;
    };
    std::vector<Text> texts;
    guint timer = 0;
};

namespace {

const std::string k_lrm = "\u200E";

std::string t(const Panel& p, const char* id) {
    return panel_text(p, id);
}

// A label or button whose text follows the language switch.
GtkWidget* tr(Panel& p, GtkWidget* w, const char* id, const std::string& tail = "") {
    p.texts.push_back({w, id, tail});
    const std::string text = ui_text(id, p.arabic) + tail;
    if (GTK_IS_LABEL(w))
        gtk_label_set_text(GTK_LABEL(w), text.c_str());
    else
        gtk_button_set_label(GTK_BUTTON(w), text.c_str());
    return w;
}

GtkWidget* tlabel(Panel& p, const char* id, const std::string& tail = "",
                  const char* acc = nullptr) {
    return tr(p, label("", acc), id, tail);
}

GtkWidget* tbutton(Panel& p, const char* id, const char* acc, GCallback cb, gpointer data) {
    return tr(p, button("", acc, cb, data), id);
}

std::map<std::string, std::string> read_form(Panel& p) {
    std::map<std::string, std::string> form;
    for (auto& [key, w] : p.inputs) {
        const bool flag = GTK_IS_TOGGLE_BUTTON(w);
        const bool on = flag && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w));
        form.emplace(key, flag ? std::string(1, on ? '1' : '0')
                               : std::string(gtk_entry_get_text(GTK_ENTRY(w))));
    }
    return form;
}

void fill_inputs(Panel& p) {
    const std::map<std::string, std::string> values = panel_file_values(p);
    for (auto& [key, w] : p.inputs) {
        const std::string& v = values.at(key);
        if (GTK_IS_TOGGLE_BUTTON(w))
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), v == "1");
        else
            gtk_entry_set_text(GTK_ENTRY(w), v.c_str());
    }
}

void set_error(Panel& p, const std::string& text) {
    gtk_label_set_text(GTK_LABEL(p.error), text.c_str());
}

// Sets a label only when its text changes: an unchanged label costs no layout.
void set_label(GtkWidget* l, const std::string& text) {
    if (text != gtk_label_get_text(GTK_LABEL(l))) gtk_label_set_text(GTK_LABEL(l), text.c_str());
}

void refresh(Panel& p) {
    if (!p.window || !gtk_widget_get_mapped(p.window)) return;
    const PanelStatus s = panel_status(p, "\n");
    set_label(p.status, s.state);
    if (s.pause_button != gtk_button_get_label(GTK_BUTTON(p.pause)))
        gtk_button_set_label(GTK_BUTTON(p.pause), s.pause_button.c_str());
    set_label(p.viewers, s.viewers);
    set_label(p.motion, s.motion);
    set_label(p.ports, s.ports);
}

void on_copy(GtkButton* b, gpointer) {
    const char* text = static_cast<const char*>(g_object_get_data(G_OBJECT(b), "link"));
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text, -1);
}

void on_pause(GtkButton*, gpointer data) {
    panel_toggle_pause(*static_cast<Panel*>(data));
}

void on_apply(GtkButton*, gpointer data) {
    Panel& p = *static_cast<Panel*>(data);
    const std::string error = panel_save(p, read_form(p));
    if (!error.empty()) {
        set_error(p, error);
        return;
    }
    // Panel-only: the engine runs in another session. With the service, a
    // restart request reaches it; without, this start becomes the engine.
    if (p.args.panel_only && !service_installed()) {
        if (!request_engine_restart(p.args.data_dir)) {
            set_error(p, "relaunch failed");
            return;
        }
        if (p.on_exit_for_restart) p.on_exit_for_restart();
        return;
    }
    if (p.args.panel_only) {
        if (!request_engine_restart(p.args.data_dir)) {
            set_error(p, "Could not write the restart request (" + file_error_text() + ")");
            return;
        }
        GtkWidget* d =
            gtk_message_dialog_new(GTK_WINDOW(p.window), GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                   GTK_BUTTONS_OK, "%s", t(p, "restart_remote").c_str());
        gtk_window_set_title(GTK_WINDOW(d), t(p, "restart_title").c_str());
        gtk_dialog_run(GTK_DIALOG(d));
        gtk_widget_destroy(d);
        return;
    }
    if (!relaunch_engine(false, p.args.data_dir)) {
        set_error(p, "relaunch failed");
        return;
    }
    if (p.on_exit_for_restart) p.on_exit_for_restart();
}

void on_export(GtkButton*, gpointer data) {
    Panel& p = *static_cast<Panel*>(data);
    const char* result = panel_export(p, gtk_entry_get_text(GTK_ENTRY(p.file_path)));
    gtk_label_set_text(GTK_LABEL(p.file_result), t(p, result).c_str());
}

void on_import(GtkButton*, gpointer data) {
    Panel& p = *static_cast<Panel*>(data);
    const bool written = panel_import(p, gtk_entry_get_text(GTK_ENTRY(p.file_path)));
    if (written) fill_inputs(p);
    gtk_label_set_text(GTK_LABEL(p.file_result),
                       t(p, written ? "imported" : "import_failed").c_str());
}

void on_firewall(GtkButton*, gpointer data) {
    Panel& p = *static_cast<Panel*>(data);
    const std::string text =
        firewall_report({p.args.rtsp_port, p.args.onvif_port, p.args.web_port}, p.arabic);
    gtk_label_set_text(GTK_LABEL(p.firewall), text.c_str());
}

void on_language(GtkButton*, gpointer data) {
    Panel& p = *static_cast<Panel*>(data);
    panel_set_language(p, !p.arabic);
}

gboolean on_tick(gpointer data) {
    refresh(*static_cast<Panel*>(data));
    return G_SOURCE_CONTINUE;
}

gboolean on_delete(GtkWidget* w, GdkEvent*, gpointer data) {
    Panel& p = *static_cast<Panel*>(data);
    // Without a tray the panel stays on the taskbar so it can be found again.
    if (p.args.show_icon && panel_tray_present())
        gtk_widget_hide(w);
    else
        gtk_window_iconify(GTK_WINDOW(w));
    return TRUE;
}

GtkWidget* grid_page() {
    GtkWidget* g = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(g), 8);
    gtk_grid_set_column_spacing(GTK_GRID(g), 12);
    gtk_container_set_border_width(GTK_CONTAINER(g), 14);
    return g;
}

GtkWidget* status_page(Panel& p) {
    GtkWidget* g = grid_page();
    int row = 0;
    gtk_grid_attach(GTK_GRID(g),
                    tlabel(p, "address", ": \u200E" + p.args.address + "\u200E", "address"), 0,
                    row++, 3, 1);
    for (const PanelLink& l : panel_links(p)) {
        gtk_grid_attach(GTK_GRID(g), tlabel(p, l.id), 0, row, 1, 1);
        GtkWidget* url = label(k_lrm + l.url + k_lrm, (std::string("link_") + (l.acc + 5)).c_str());
        gtk_label_set_selectable(GTK_LABEL(url), TRUE);
        gtk_grid_attach(GTK_GRID(g), url, 1, row, 1, 1);
        GtkWidget* b = tbutton(p, "copy", l.acc, G_CALLBACK(on_copy), nullptr);
        g_object_set_data_full(G_OBJECT(b), "link", g_strdup(l.url.c_str()), g_free);
        gtk_grid_attach(GTK_GRID(g), b, 2, row++, 1, 1);
    }
    if (p.args.panel_only)
        gtk_grid_attach(GTK_GRID(g), tlabel(p, "remote_panel", "", "remote"), 0, row++, 3, 1);
    p.status = label("", "stream_state");
    gtk_grid_attach(GTK_GRID(g), p.status, 0, row, 2, 1);
    p.pause = button(t(p, "pause"), "pause", G_CALLBACK(on_pause), &p);
    gtk_grid_attach(GTK_GRID(g), p.pause, 2, row++, 1, 1);
    p.motion = label("", "motion");
    gtk_grid_attach(GTK_GRID(g), p.motion, 0, row++, 3, 1);
    p.ports = label("", "ports");
    gtk_grid_attach(GTK_GRID(g), p.ports, 0, row++, 3, 1);
    gtk_grid_attach(GTK_GRID(g), tlabel(p, "viewers", ":"), 0, row++, 3, 1);
    p.viewers = label("", "viewers");
    gtk_grid_attach(GTK_GRID(g), p.viewers, 0, row++, 3, 1);
    return g;
}

GtkWidget* settings_page(Panel& p, int tab) {
    GtkWidget* g = grid_page();
    int row = 0;
    for (const PanelField& f : k_panel_fields) {
        if (f.tab != tab) continue;
        GtkWidget* w;
        if (f.kind == PanelFieldKind::flag) {
            w = tr(p, gtk_check_button_new_with_label(""), f.key);
            gtk_grid_attach(GTK_GRID(g), w, 0, row++, 2, 1);
        } else {
            gtk_grid_attach(GTK_GRID(g), tlabel(p, f.key), 0, row, 1, 1);
            w = gtk_entry_new();
            gtk_widget_set_hexpand(w, TRUE);
            if (f.kind == PanelFieldKind::password) gtk_entry_set_visibility(GTK_ENTRY(w), FALSE);
            gtk_grid_attach(GTK_GRID(g), w, 1, row++, 1, 1);
        }
        name(w, f.key);
        p.inputs[f.key] = w;
    }
    return g;
}

GtkWidget* about_page(Panel& p) {
    GtkWidget* g = grid_page();
    int row = 0;
    gtk_grid_attach(GTK_GRID(g), tlabel(p, "app_title"), 0, row++, 3, 1);
    gtk_grid_attach(GTK_GRID(g),
                    tlabel(p, "version", ": \u200E" + p.info.version + "\u200E", "version"), 0,
                    row++, 3, 1);
    gtk_grid_attach(GTK_GRID(g), tlabel(p, "data_dir", ": \u200E" + p.args.data_dir + "\u200E"), 0,
                    row++, 3, 1);
    gtk_grid_attach(GTK_GRID(g), tlabel(p, "file_path"), 0, row, 1, 1);
    p.file_path = gtk_entry_new();
    name(p.file_path, "file_path");
    gtk_widget_set_hexpand(p.file_path, TRUE);
    gtk_grid_attach(GTK_GRID(g), p.file_path, 1, row++, 2, 1);
    gtk_grid_attach(GTK_GRID(g), tbutton(p, "export", "export", G_CALLBACK(on_export), &p), 0, row,
                    1, 1);
    gtk_grid_attach(GTK_GRID(g), tbutton(p, "import", "import", G_CALLBACK(on_import), &p), 1,
                    row++, 1, 1);
    p.file_result = label("", "file_result");
    gtk_grid_attach(GTK_GRID(g), p.file_result, 0, row++, 3, 1);
    gtk_grid_attach(GTK_GRID(g), tbutton(p, "firewall", "firewall", G_CALLBACK(on_firewall), &p), 0,
                    row++, 1, 1);
    p.firewall = label("", "firewall_result");
    gtk_grid_attach(GTK_GRID(g), p.firewall, 0, row++, 3, 1);
    return g;
}

}  // namespace

Panel* panel_new(const PanelLoopArgs& args, const DesktopInfo& info,
                 std::function<void()> exit_for_restart) {
    Panel* p = new Panel;
    panel_model_init(*p, args, info, std::move(exit_for_restart));
    return p;
}

static void panel_build(Panel& p) {
    gtk_widget_set_default_direction(p.arabic ? GTK_TEXT_DIR_RTL : GTK_TEXT_DIR_LTR);
    gtk_window_set_title(GTK_WINDOW(p.window), t(p, "app_title").c_str());
    p.content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_pack_end(GTK_BOX(top), tbutton(p, "lang_switch", "lang", G_CALLBACK(on_language), &p),
                     FALSE, FALSE, 6);
    gtk_box_pack_start(GTK_BOX(p.content), top, FALSE, FALSE, 4);
    p.notebook = gtk_notebook_new();
    const char* tabs[] = {"tab_status", "tab_video", "tab_network", "tab_users", "tab_about"};
    for (int i = 0; i < 5; ++i) {
        GtkWidget* page_widget = i == 0   ? status_page(p)
                                 : i == 4 ? about_page(p)
                                          : settings_page(p, i);
        GtkWidget* tab = tr(p, gtk_label_new(""), tabs[i]);
        gtk_notebook_append_page(GTK_NOTEBOOK(p.notebook), page_widget, tab);
    }
    gtk_box_pack_start(GTK_BOX(p.content), p.notebook, TRUE, TRUE, 0);
    p.error = label("", "error");
    gtk_box_pack_start(GTK_BOX(p.content), p.error, FALSE, FALSE, 4);
    GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_pack_end(GTK_BOX(bottom),
                     tbutton(p, "apply_restart", "apply", G_CALLBACK(on_apply), &p), FALSE, FALSE,
                     8);
    gtk_box_pack_start(GTK_BOX(p.content), bottom, FALSE, FALSE, 8);
    gtk_container_add(GTK_CONTAINER(p.window), p.content);
    fill_inputs(p);
    gtk_widget_show_all(p.content);
}

// Switches the texts and the reading direction in place; entries keep what
// the user typed.
void panel_set_language(Panel& p, bool arabic) {
    p.arabic = arabic;
    gtk_widget_set_default_direction(arabic ? GTK_TEXT_DIR_RTL : GTK_TEXT_DIR_LTR);
    gtk_window_set_title(GTK_WINDOW(p.window), t(p, "app_title").c_str());
    for (const Panel::Text& x : p.texts) {
        const std::string text = ui_text(x.id, arabic) + x.tail;
        if (GTK_IS_LABEL(x.widget))
            gtk_label_set_text(GTK_LABEL(x.widget), text.c_str());
        else
            gtk_button_set_label(GTK_BUTTON(x.widget), text.c_str());
    }
    for (GtkWidget* l : {p.error, p.file_result, p.firewall}) gtk_label_set_text(GTK_LABEL(l), "");
    refresh(p);
}

void panel_show(Panel& p) {
    if (!p.window) {
        p.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        name(p.window, "control_panel");
        gtk_window_set_default_size(GTK_WINDOW(p.window), 760, 660);
        gtk_window_set_position(GTK_WINDOW(p.window), GTK_WIN_POS_CENTER);
        g_signal_connect(p.window, "delete-event", G_CALLBACK(on_delete), &p);
        panel_build(p);
        p.timer = g_timeout_add(1000, on_tick, &p);
        engine_log("UI: control panel opened\n");
    }
    gtk_widget_show(p.window);
    gtk_window_deiconify(GTK_WINDOW(p.window));
    gtk_window_present(GTK_WINDOW(p.window));
    refresh(p);
}

void panel_toggle_pause(Panel& p) {
    panel_model_toggle_pause(p);
    refresh(p);
}

std::string panel_main_link(const Panel& p) {
    return panel_link_main(p);
}
bool panel_arabic(const Panel& p) {
    return p.arabic;
}
