// The two pages of the web panel, self-contained (inline style and script, no
// outside files): the login page, built around the device id and the error
// mark, and the panel page, sent as it is and filled by its own script from
// the JSON routes. Both speak Arabic (right to left, the default) and English.
#pragma once

#include <string>

// The support page the QR code and the recovery block point to.
extern const char* const k_support_url;

struct LoginPageInput {
    std::string machine_id;
    std::string version;
    bool error = false;      // show the "wrong user or password" line
    bool show_hint = false;  // factory credentials still in use, fewer than 5 logins
};

std::string login_page(const LoginPageInput& in);
const std::string& panel_page();

// The QR code's link: the support page with this device's id.
std::string support_link(const std::string& machine_id);
