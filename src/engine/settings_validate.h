// The one check of a settings form before it is written: numbers with their
// ranges, flags, names, the device name, the announced address, distinct
// service ports (also against the ports kept in the file), the administrator
// password, and the nothing-to-save rule. Pure: no files, no clock, no state;
// the web panel's save route and the desktop panel feed it the form and the
// parsed settings file and write what it returns.
#pragma once

#include <map>
#include <string>

#include "engine/engine_config.h"

struct SaveCheck {
    bool ok = false;
    std::string error;  // bilingual text of the first problem (Arabic first)
    // Key -> text to store, in key order. admin_pass, when present, is the new
    // password in clear: the caller stores it in protected form.
    std::map<std::string, std::string> changes;
};

// Checks the submitted form against the current settings file. Only keys the
// form carries become changes; an empty admin_pass leaves the password alone.
SaveCheck validate_save(const std::map<std::string, std::string>& form, const ConfigMap& file);

// Error texts, exposed for the panels that show them beside a field.
std::string number_error_text(const std::string& key, int min, int max, bool zero_allowed,
                              bool even);
std::string name_error_text(const std::string& key);
std::string device_name_error_text();
std::string announce_ip_error_text();
std::string same_ports_error_text();
std::string password_error_text();
std::string nothing_to_save_error_text();

// Flag word as a form sends it: "1", "true" in any case, or "on" -> true.
bool form_flag(const std::string& value);
// A port from the settings file as the panels read it: digits only after
// trimming blanks and tabs, 1..65535, else the default.
int file_port(const ConfigMap& file, const std::string& key, int def);
