// Sessions on Windows from the terminal-services interface: the console
// session, and every session in enumeration order with whether it is active
// and whether a user is signed in to it (a user token can be had). The console
// is always listed, on its sign-in desktop when nobody uses it, so the watch
// loop can serve the sign-in screen even where the enumeration leaves it out.
#include <windows.h>
// After windows.h, which they need.
#include <wtsapi32.h>

#include <string>

#include "host/session_sources.h"

namespace {

constexpr const char* k_user_desktop = "winsta0\\default";
constexpr const char* k_logon_desktop = "winsta0\\winlogon";

// Whether a user is signed in to the session: its token can be had (the
// token is closed again at once). Needs LocalSystem.
bool has_user_token(DWORD session) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) return false;
    CloseHandle(token);
    return true;
}

class WtsSessionSource : public SessionSource {
  public:
    SessionSnapshot read() override {
        SessionSnapshot snap;
        const DWORD console = WTSGetActiveConsoleSessionId();
        bool console_listed = false;
        WTS_SESSION_INFOW* list = nullptr;
        DWORD count = 0;
        if (WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) {
            for (DWORD i = 0; i < count; ++i) {
                const DWORD id = list[i].SessionId;
                // Session 0 holds the services and never a desktop anyone sees.
                if (id == 0) continue;
                SessionInfo s;
                s.id = std::to_string(id);
                s.active = list[i].State == WTSActive;
                s.type = "win32";
                const bool user = s.active && has_user_token(id);
                s.session_class = user ? "user" : "greeter";
                s.display = user ? k_user_desktop : k_logon_desktop;
                console_listed |= id == console;
                snap.sessions.push_back(std::move(s));
            }
            WTSFreeMemory(list);
        }
        if (console != 0xFFFFFFFF) {
            snap.console = std::to_string(console);
            if (!console_listed) {
                SessionInfo s;
                s.id = snap.console;
                s.session_class = "greeter";
                s.type = "win32";
                s.display = k_logon_desktop;
                snap.sessions.push_back(std::move(s));
            }
        }
        return snap;
    }
};

}  // namespace

std::unique_ptr<SessionSource> make_wts_session_source() {
    return std::make_unique<WtsSessionSource>();
}
