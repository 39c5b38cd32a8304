// Where the service reads the sessions from: systemd-logind (seat0's active
// session and every session's class, type, display and user), or, in builds
// with test hooks only, a text file that an end-to-end test rewrites. On
// Windows: the terminal-services sessions.
#pragma once

#include <memory>
#include <string>

#include "host/session_watch.h"

std::unique_ptr<SessionSource> make_logind_session_source();
// The console session and the signed-in sessions (type "win32", class "user"
// when a user token can be had, else "greeter" on the sign-in desktop).
std::unique_ptr<SessionSource> make_wts_session_source();

// The file holds one line "console ID" and one line per session, in
// enumeration order, of key=value words:
//   session id=c2 active=1 class=user type=x11 uid=1001 display=:5
//           xauthority=/path runtime=/run/user/1001
// A file that cannot be read gives no sessions at all.
std::unique_ptr<SessionSource> make_file_session_source(const std::string& path);
SessionSnapshot parse_session_file(const std::string& text);
