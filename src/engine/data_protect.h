// Machine-scope data protection for stored secrets (admin_pass, web sessions):
// on Linux AES-256-GCM with a 32-byte machine key kept in machine.key in the
// data directory (mode 0600, made on first use). Blob = 12-byte nonce,
// ciphertext, 16-byte tag. Stored as "enc:" + Base64 by the callers.
#pragma once

#include <optional>
#include <string>

std::optional<std::string> protect_data(const std::string& plain, const std::string& data_dir);
// Nothing when the blob is malformed, was altered, or the key is missing.
std::optional<std::string> unprotect_data(const std::string& blob, const std::string& data_dir);
