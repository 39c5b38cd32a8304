// Engine start-up: command line, settings, instance, ports, address, banner,
// subsystems, then the control-panel loop.
#include "app/startup.h"

#include <cstdio>

#include "app/desktop_wiring.h"
#include "app/service_entry.h"
#include "app/settings_wiring.h"
#include "engine/auto_revert.h"
#include "engine/crypto.h"
#include "engine/data_protect.h"
#include "engine/log.h"
#include "engine/net_address.h"
#include "engine/paths.h"
#include "engine/ports.h"
#include "engine/screen_metrics.h"
#include "host/instance_lock.h"
#include "host/panel_loop.h"
#include "onvif/onvif_context.h"
#include "web/recovery.h"

std::atomic<bool> logon_screen{false};
std::atomic<bool> panel_only{false};

namespace {

using Args = std::vector<std::string>;

bool has_word(const Args& a, const char* w) {
    for (size_t i = 1; i < a.size(); ++i)
        if (a[i] == w) return true;
    return false;
}

// The word after option w; nullptr when w is absent or last.
const std::string* word_after(const Args& a, const char* w) {
    for (size_t i = 1; i + 1 < a.size(); ++i)
        if (a[i] == w) return &a[i + 1];
    return nullptr;
}

int not_in_build(const char* option) {
    engine_log("%s: this mode is not in this build\n", option);
    return 2;
}

bool equal_constant_time(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const std::string& ref = a.size() == b.size() ? b : a;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ ref[i]);
    return diff == 0;
}

// Clear admin password from the settings; *tampered when it cannot be trusted.
std::string admin_password(const ConfigMap& m, const EngineConfig& c, const std::string& data_dir,
                           bool* tampered) {
    auto it = m.find("admin_pass");
    if (it != m.end() && !is_valid_text(trim_blanks(it->second), k_admin_pass_max_len, false)) {
        // A present but unusable password must not silently become the
        // well-known factory password: lock the login instead.
        *tampered = true;
        return decode_admin_pass("enc:!", data_dir, nullptr);
    }
    return decode_admin_pass(c.admin_pass, data_dir, tampered);
}

int check_pass_mode(const Args& args) {
    const std::string* given = word_after(args, "--check-pass");
    const std::string data_dir = data_directory();
    ConfigMap m = load(config_path(data_dir));
    auto it = m.find("admin_pass");
    const std::string stored = it == m.end() ? "tolvu" : trim_blanks(it->second);
    if (!is_valid_text(stored, k_admin_pass_max_len, false)) return 1;  // the engine locks it too
    bool tampered = false;
    std::string clear = decode_admin_pass(stored, data_dir, &tampered);
    if (!given || tampered) return 1;
    return equal_constant_time(clear, *given) ? 0 : 1;
}

int import_mode(const Args& args, const std::string& cfg) {
    const std::string* file = word_after(args, "--import-settings");
    ImportResult r;
    if (file) r = import_file(*file, cfg);
    if (r.written)
        engine_log("Import settings: %d applied, %d rejected%s\n", r.applied, r.rejected, "");
    else
        engine_log("Import settings: %d applied, %d rejected%s\n", 0, r.rejected,
                   " (nothing written)");
    return r.written ? 0 : 2;
}

std::string first_line_of(const std::string& path) {
    auto t = read_file(path, 4096);
    if (!t) return "";
    std::string line = t->substr(0, t->find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    return line;
}

void load_settings_file(StartupValues& v) {
    if (path_exists(v.cfg_path)) return;
    if (seed(v.data_dir, v.program_dir))
        engine_log("CFG: first run - settings seeded from the program directory\n");
}

void bind_ports(StartupValues& v) {
    const EngineConfig& c = v.config;
    v.rtsp_socket = bind_slot(k_slot_rtsp, c.rtsp_port, &v.rtsp_port);
    v.onvif_socket = bind_slot(k_slot_onvif, c.onvif_port, &v.onvif_port);
    v.web_port = c.web_port;
    if (c.web_admin) v.web_socket = bind_slot(k_slot_web, c.web_port, &v.web_port);
}

void read_ports_for_panel(StartupValues& v) {
    v.rtsp_port = v.config.rtsp_port;
    v.onvif_port = v.config.onvif_port;
    v.web_port = v.config.web_port;
    if (!read_ports_status(v.data_dir)) return;
    auto pick = [](int slot, int* port) {
        const int actual = port_slot(slot).actual.load();
        if (port_slot(slot).state.load() == k_slot_state_running && actual > 0) *port = actual;
    };
    pick(k_slot_rtsp, &v.rtsp_port);
    pick(k_slot_onvif, &v.onvif_port);
    pick(k_slot_web, &v.web_port);
}

void publish_ports(StartupValues& v) {
    if (!write_ports_status(v.data_dir))
        engine_log("CFG: cannot write %s/ports.status (%s)\n", v.data_dir.c_str(),
                   file_error_text().c_str());
    bool trouble = false;
    for (int i = k_slot_rtsp; i <= k_slot_web; ++i)
        trouble |= port_slot(i).moved() || port_slot(i).state.load() == k_slot_state_down;
    if (trouble) {
        const std::string w = port_warnings(false);
        if (!w.empty()) engine_log("%s\n", w.c_str());
    }
}

// Reads zeb.cfg into v.settings. A file that is there but cannot be read
// (unreadable, a directory, a symbolic link) gives the defaults, except that
// authentication stays on: whether it was on is unknown. Returns false then.
bool read_settings(StartupValues& v) {
    if (auto text = read_file(v.cfg_path)) {
        v.settings = parse_config_text(*text);
        return true;
    }
    if (!path_exists(v.cfg_path)) return true;  // no file: the defaults, as on a first run
    std::string what;
    if (is_symlink(v.cfg_path))
        what = v.cfg_path + " is a symbolic link, which is not followed";
    else if (directory_exists(v.cfg_path))
        what = v.cfg_path + " is a directory, not a settings file";
    else
        what = "cannot read " + v.cfg_path + " (" + file_error_text() + ")";
    engine_log("CFG: %s - using the defaults, with authentication kept on\n", what.c_str());
    add_config_warning(
        {"\u26A0 The settings file cannot be read - the defaults are in use, with authentication "
         "kept on",
         "\u26A0 تعذّرت قراءة ملف الإعدادات - القيم الافتراضية مستعملة، مع إبقاء المصادقة مفعّلة"});
    return false;
}

// Logs the words that look like options but are none; start-up goes on.
void report_unknown_options(const CommandLineScan& scan) {
    for (const std::string& w : scan.unknown)
        engine_log("Unknown option %s is ignored (zeb_onvif --help lists the options)\n",
                   w.c_str());
}

// Screen size for the streams; without a screen, one line that says how to
// get one. ONVIF and the rest still run.
ScreenSize query_screen() {
    const ScreenSize screen = primary_screen_size();
    if (screen.width <= 0 || screen.height <= 0)
        engine_log(
            "Video: no screen (%s) - set DISPLAY, or run scripts/run-camera.sh, which "
            "starts a virtual screen\n",
            screen_unavailable_reason().c_str());
    return screen;
}

}  // namespace

int run_engine(int argc, char** argv, StartSubsystemsFn start_subsystems) {
    StartupValues v;
    for (int i = 0; i < argc; ++i) v.args.emplace_back(argv[i] ? argv[i] : "");
    const Args& args = v.args;

    // 1. One-shot modes.
    if (int code = 0; service_entry(args, &code)) return code;
    if (word_after(args, "--dump-screens")) return not_in_build("--dump-screens");
    if (int code = 0; desktop_one_shot(args, &code)) return code;
    if (has_word(args, "--check-pass")) return check_pass_mode(args);
    const CommandLineScan scan = scan_command_line(args);
    if (scan.help || scan.version) {
        std::fputs(scan.help ? help_text().c_str() : version_text().c_str(), stdout);
        return 0;
    }
    report_unknown_options(scan);
    if (has_word(args, "--recovery-code"))
        return print_recovery_code(data_directory(), panel_machine_id(machine_identifier()));

    // 2. Sockets, directories.
    net_init();
    v.program_dir = program_directory();
    v.data_dir = data_directory();
    v.cfg_path = config_path(v.data_dir);
    secure_machine_key(v.data_dir);

    // 3. First-run seed.
    load_settings_file(v);

    // 4. Import.
    if (has_word(args, "--import-settings")) return import_mode(args, v.cfg_path);

    // 5. A remote change on hold: reverted when its time ran out while the
    // program was stopped; a note left by a bind-failure revert is shown.
    revert_check_startup(v.cfg_path);
    if (revert_take_note(v.cfg_path))
        add_config_warning(
            {"\u26A0 The new settings did not work (the requested port was busy) - the previous "
             "settings were restored automatically",
             "\u26A0 الإعدادات الجديدة لم تعمل (المنفذ المطلوب كان مشغولًا) — تمت استعادة "
             "الإعدادات السابقة تلقائيًا"});

    // 6. Settings.
    const int def_rtsp =
        args.size() > 1 ? positional_port(args[1], k_default_rtsp_port) : k_default_rtsp_port;
    const int def_onvif =
        args.size() > 2 ? positional_port(args[2], k_default_onvif_port) : k_default_onvif_port;
    ConfigMap& m = v.settings;
    const bool settings_read = read_settings(v);
    v.config = read_engine_config(m, def_rtsp, def_onvif);
    if (!settings_read) v.config.stream_auth = true;
    const EngineConfig& c = v.config;
    set_log_verbose(c.log_verbose);

    // 7. Duplicate ports (the later server loses the bind and moves).
    for (const ConfigWarning& w :
         duplicate_port_warnings(c.rtsp_port, c.onvif_port, c.web_port, c.web_admin))
        add_config_warning(w);

    // 8. Run flags.
    v.relaunch = has_word(args, "--relaunch");
    v.logon_screen = has_word(args, "--logon-screen");
    v.background = has_word(args, "--background") || v.logon_screen;
    logon_screen.store(v.logon_screen);

    // 9. Welcome window.
    if (has_word(args, "--welcome")) return welcome_only_mode(v);

    // 10. Single instance. Signals are blocked first so that every thread
    // started later leaves SIGINT/SIGTERM to the control-panel loop.
    block_stop_signals();
    InstanceOptions io;
    // A camera the service starts in place of one it has just ended waits for
    // the lock like a relaunch does.
    io.relaunch = v.relaunch || has_word(args, "--handover");
    io.background = v.background;
    switch (acquire_instance(v.data_dir, io)) {
        case InstanceOutcome::exit_quietly:
            return 0;
        case InstanceOutcome::panel_only:
            v.panel_only = true;
            panel_only.store(true);
            break;
        case InstanceOutcome::engine:
            break;
    }

    // 11, 13. Ports and their status.
    if (v.panel_only) {
        read_ports_for_panel(v);
    } else {
        bind_ports(v);
        apply_bind_failure_rule(v);  // 12. returns only when nothing was reverted
        publish_ports(v);
    }

    // 14. Password.
    v.admin_pass = admin_password(m, c, v.data_dir, &v.admin_pass_tampered);
    if (v.admin_pass_tampered)
        engine_log(
            "WARNING: admin_pass tampered/undecryptable -> login locked; use HWID recovery.\n");

    // 15. Advertised address.
    if (!c.announce_ip.empty()) {
        v.address = c.announce_ip;
        v.address_log = "  net: announce_ip override -> " + c.announce_ip + "\n";
    } else {
        v.address = choose_address(&v.address_log);
    }

    // 16. Sizes.
    const ScreenSize screen = query_screen();
    const StreamSizes sz =
        compute_stream_sizes(screen.width, screen.height, c.substream, c.sub_width, c.main_width);
    v.screen_width = sz.screen_width;
    v.screen_height = sz.screen_height;
    v.main_width = sz.main_width;
    v.main_height = sz.main_height;
    if (sz.sub_on) {
        v.sub_stream = c.sub_stream;
        v.sub_width = sz.sub_width;
        v.sub_height = sz.sub_height;
    }

    // 17. Language.
    v.lang = !c.lang.empty() ? c.lang : first_line_of(v.data_dir + "/setup.lang");
    if (v.lang != "ar" && v.lang != "en") v.lang = "ar";  // the interface is Arabic by default
    first_run_welcome(v);

    // 18. Banner (each line also enters the log ring).
    const std::string banner = banner_text(v);
    for (size_t pos = 0; pos < banner.size();) {
        size_t nl = banner.find('\n', pos);
        engine_log("%s", banner.substr(pos, nl - pos + 1).c_str());
        pos = nl + 1;
    }

    // 19-22. Subsystems and their threads.
    if (start_subsystems) start_subsystems(v);

    PanelLoopArgs pl;
    pl.data_dir = v.data_dir;
    pl.address = v.address;
    pl.web_port = v.web_port;
    pl.rtsp_port = v.rtsp_port;
    pl.onvif_port = v.onvif_port;
    pl.stream = c.stream;
    pl.open_window = !v.background && !v.relaunch;
    pl.show_icon = c.show_icon;
    pl.panel_only = v.panel_only;

    // 23. Sign-in-screen mode: no interface; the service ends the process.
    if (v.logon_screen) {
        engine_log("Logon-screen mode: streaming the sign-in screen (no UI)\n");
        pl.listen_for_show = false;
        return run_control_panel_loop(pl);
    }
    // 24. Control-panel loop: the desktop on an interactive start.
    return run_main_loop(pl, v);
}
