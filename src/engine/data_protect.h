// Machine-scope data protection for stored secrets (admin_pass, web sessions).
// On Windows CryptProtectData in machine scope. On Linux AES-256-GCM with a
// 32-byte machine key kept in machine.key in the data directory (mode 0600,
// made on first use); blob = 12-byte nonce, ciphertext, 16-byte tag. Stored
// as "enc:" + Base64 by the callers.
#pragma once

#include <optional>
#include <string>

std::optional<std::string> protect_data(const std::string& plain, const std::string& data_dir);
// Nothing when the blob is malformed, was altered, or the key is missing.
std::optional<std::string> unprotect_data(const std::string& blob, const std::string& data_dir);

// Start-up check of the machine key: a key file of this user's that others
// may read (an older build, a copy, a chmod) is made owner-only again, and
// said in the log. The data directory the camera service shares with every
// local user (world-writable) is left alone: every user's camera reads the
// key there. Nothing to do on Windows.
void secure_machine_key(const std::string& data_dir);

// The protected-password marker: set when a new password is stored protected,
// cleared when the credentials return to the factory defaults; a plain
// admin_pass under a set marker counts as tampered. On Windows the text value
// pwenc under HKEY_CURRENT_USER\SOFTWARE\Orvanta\ZEB (data_dir unused), on
// Linux the file pwenc in the data directory.
bool read_pwenc_marker(const std::string& data_dir);
bool write_pwenc_marker(const std::string& data_dir, bool on);
