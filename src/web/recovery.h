// Password recovery without an outside service: someone with root on the PC
// runs `zeb_onvif --recovery-code`, which prints a one-time code bound to this
// machine's identifier and an expiry 24 h ahead, authenticated with the
// machine key (HMAC-SHA-256). The web panel's /recover checks it and keeps the
// used codes in recovery.used in the data directory so each works once.
#pragma once

#include <cstdint>
#include <string>

constexpr int64_t k_recovery_validity_s = 24 * 3600;

enum class RecoveryVerdict { invalid, expired, used, valid };

// The opaque identifier the login page shows: derived from the machine's own
// identifier so the latter is not published on the network.
std::string panel_machine_id(const std::string& machine_identifier);

// Code text "XXXX-XXXX-XXXX-XXXX" (base32): 32-bit expiry in minutes since
// 1970, 48-bit authenticator over the machine id and the expiry.
std::string make_recovery_code(const std::string& key, const std::string& machine_id,
                               int64_t expiry_unix_s);
// Checks a code typed by the user (blanks, dashes and letter case are
// forgiven). *expiry_out receives the code's expiry when it is authentic.
RecoveryVerdict check_recovery_code(const std::string& key, const std::string& machine_id,
                                    const std::string& code, int64_t now_unix_s,
                                    int64_t* expiry_out = nullptr);
// Canonical form of a code for the single-use store ("" when malformed).
std::string canonical_recovery_code(const std::string& code);

// The machine key from the data directory (made on first use); "" when none.
std::string recovery_key(const std::string& data_dir);
bool recovery_code_used(const std::string& data_dir, const std::string& canonical);
// Adds the code to the store, dropping codes that have expired; false when the
// store cannot be written.
bool mark_recovery_code_used(const std::string& data_dir, const std::string& canonical,
                             int64_t now_unix_s);

// --recovery-code: prints a fresh code and how to use it; the exit code.
int print_recovery_code(const std::string& data_dir, const std::string& machine_id);

// Wall-clock seconds since 1970.
int64_t unix_now();
