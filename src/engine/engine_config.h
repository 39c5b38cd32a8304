// The settings file zeb.cfg: parsing into a ConfigMap, typed reading with the
// bilingual warnings for invalid values, the EngineConfig record, the in-place
// rewrite used by every front end, the import, the first-run seed and the
// factory-defaults text. The warning list is process-wide and has its own mutex;
// nothing else here holds state.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/data_protect.h"

// The parsed file: key -> value, byte-wise key order; a later line with the
// same key replaces the earlier value.
using ConfigMap = std::map<std::string, std::string>;

// Parses a whole file; a file that cannot be opened or read gives an empty map.
ConfigMap load(const std::string& path);
// The same line rules over text already in memory.
ConfigMap parse_config_text(std::string_view text);
// Key of one settings line as the parser sees it; empty for blank lines,
// comments and lines without '='.
std::string config_line_key(std::string_view line);

// ---- Warnings for invalid values ------------------------------------------

// English and Arabic text of one warning. The process-wide list keeps at most
// 5, and never two with the same English text.
struct ConfigWarning {
    std::string en;
    std::string ar;
};

constexpr size_t k_max_config_warnings = 5;
// Adds a warning (unless present or the list is full) and logs its English
// text once as "CONFIG: ...". Returns true when it was added.
bool add_config_warning(const ConfigWarning& w);
std::vector<ConfigWarning> config_warnings();
void reset_config_warnings_for_tests();

// The "invalid value" warning for key/value with the given default text.
ConfigWarning invalid_value_warning(const std::string& key, const std::string& value,
                                    const std::string& default_text);

// ---- Typed getters ---------------------------------------------------------
// Each trims blanks and tabs at both ends of the value first. A missing key
// gives the default silently; an invalid value gives the default and a warning.

bool get_flag(const ConfigMap& m, const std::string& key, bool def);
// Decimal digits only (no sign), min..max; above 100000000 counts as out of
// range; zero_allowed also accepts 0.
int get_int(const ConfigMap& m, const std::string& key, int def, int min, int max,
            bool zero_allowed = false);
// 1..32 characters from A-Z a-z 0-9 _ -.
std::string get_name(const ConfigMap& m, const std::string& key, const std::string& def);
// 1..max_len bytes (0..max_len with allow_empty), no byte below 0x20 and none
// of " & ' < >.
std::string get_text(const ConfigMap& m, const std::string& key, const std::string& def,
                     size_t max_len, bool allow_empty = false);
// Raw value, no check (trimmed).
std::string get_string(const ConfigMap& m, const std::string& key, const std::string& def);
// Dotted IPv4 or empty; anything else warns with the default "auto" and gives "".
std::string get_address(const ConfigMap& m, const std::string& key);

// Value checks shared with the front ends' validation.
bool is_valid_name(std::string_view v);
bool is_valid_text(std::string_view v, size_t max_len, bool allow_empty);
bool is_valid_ipv4(std::string_view v);
bool is_all_digits(std::string_view v);
std::string trim_blanks(std::string_view v);

// ---- The settings record ---------------------------------------------------

constexpr int k_default_rtsp_port = 8554;
constexpr int k_default_onvif_port = 8000;
constexpr int k_default_web_port = 8080;
constexpr size_t k_admin_pass_max_len = 1024;

// One field per key, read with its default and range. admin_pass holds the
// stored form ("enc:..." or plain); decode it with decode_admin_pass.
struct EngineConfig {
    int rtsp_port = k_default_rtsp_port;
    int onvif_port = k_default_onvif_port;
    int web_port = k_default_web_port;
    bool web_admin = true;
    bool discovery = true;
    int fps = 10;
    int bitrate = 2000;
    int main_width = 0;
    std::string stream = "screenlive";
    bool substream = true;
    std::string sub_stream = "screensub";
    int sub_width = 640;
    int sub_bitrate = 512;
    bool stream_on = true;
    bool stream_auth = false;
    std::string announce_ip;  // empty: choose the address
    std::string admin_user = "admin";
    std::string admin_pass = "tolvu";
    std::string device_name = "Vistrel";
    std::string osd_name_text;
    bool osd_name = true;
    int osd_name_pos = 3;
    int osd_name_op = 70;
    int osd_name_color = 0;
    int osd_name_size = 1;
    bool osd_clock = true;
    int osd_clock_pos = 1;
    int osd_clock_op = 70;
    int osd_clock_color = 0;
    int osd_clock_size = 1;
    bool show_cursor = false;
    bool damage_capture = true;  // read and encode only what changed on screen
    bool warn_live = false;
    int warn_pos = 1;
    int warn_op = 80;
    int warn_color = 3;
    int warn_size = 1;
    std::string warn_text;
    bool audio = false;
    bool motion = false;
    int motion_sens = 5;
    int motion_min = 500;
    int motion_hold = 3000;
    int motion_top = 0;
    int motion_bottom = 0;
    bool motion_taskbar = true;
    int motion_corners = 0;
    bool log_verbose = false;
    bool show_icon = true;
    bool protect_mode = false;
    std::string lang;  // "ar", "en", or empty when the file has neither
};

// Reads every key (warnings for invalid values). default_rtsp/default_onvif
// are the port defaults when the keys are missing (command-line words).
EngineConfig read_engine_config(const ConfigMap& m, int default_rtsp = k_default_rtsp_port,
                                int default_onvif = k_default_onvif_port);

// ---- Rewriting, import, seed, factory defaults -----------------------------

// Rewrites the file with the given key -> value pairs, keeping comments, blank
// lines, unknown keys and order; every line that carries an updated key is
// replaced, missing keys are appended in key order. The file is replaced whole
// (temporary file, flush to disk, rename): readers see old or new, never a mix.
// An empty update set succeeds without touching the file.
bool write_keys(const std::string& path, const std::map<std::string, std::string>& updates);
// The text write_keys would write for the current file text (pure).
std::string rewrite_config_text(std::string_view current,
                                const std::map<std::string, std::string>& updates);

struct ImportResult {
    int applied = 0;
    int rejected = 0;
    bool written = false;  // write_keys ran and succeeded
};
// The 41 keys an import may change, in order.
const std::vector<std::string>& importable_keys();
bool import_value_ok(const std::string& key, const std::string& value);
ImportResult import_file(const std::string& import_path, const std::string& cfg_path);

// First run: copies default-settings.cfg (else core.dat) from the program
// directory to zeb.cfg in the data directory. True when a seed was copied.
bool seed(const std::string& data_dir, const std::string& program_dir);

// Factory defaults, lines joined by CR LF (with a final CR LF).
std::string factory_defaults_text(bool web_variant);
bool write_factory_defaults(const std::string& cfg_path, bool web_variant);

// ---- Locations ---------------------------------------------------------------

// data_directory() and program_directory() are in engine/paths.h.
std::string config_path(const std::string& data_dir);  // data_dir + "/zeb.cfg"

// ---- Protected admin_pass --------------------------------------------------

// Stored form -> clear password. *tampered is set when the value has the "enc:"
// prefix but does not decode, or is plain while the protected-password marker
// is set; the result is then a value no typed password can match.
std::string decode_admin_pass(const std::string& stored, const std::string& data_dir,
                              bool* tampered);
// Clear password -> "enc:" + Base64 of the protected blob; empty on failure.
std::string encode_admin_pass(const std::string& clear, const std::string& data_dir);
// The protected-password marker: read_pwenc_marker / write_pwenc_marker in
// data_protect.h.
