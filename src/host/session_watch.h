// The service's watch loop: every pass it reads the sessions, keeps exactly
// one camera alive in the served session (the active user session, else the
// sign-in screen of the console) and ends cameras elsewhere. Sessions come
// from a SessionSource and processes are handled by a CameraLauncher, so the
// loop itself is plain logic, driven by tests with scripted fakes. Single
// threaded: the service thread owns WatchState.
#pragma once

#include <string>
#include <vector>

struct SessionInfo {
    std::string id;  // session id (logind's, a Windows session number, or a test's)
    bool active = false;
    std::string session_class;  // "user", "greeter", ...
    std::string type;           // "x11", "wayland", "tty", "win32", ...
    unsigned uid = 0;
    std::string display;      // X display, e.g. ":0", or Windows desktop; empty without one
    std::string xauthority;   // X authority file; empty when none was found
    std::string runtime_dir;  // XDG_RUNTIME_DIR of the session's user
};

struct SessionSnapshot {
    std::string console;                // the seat's active session; empty when none
    std::vector<SessionInfo> sessions;  // in enumeration order
    const SessionInfo* find(const std::string& id) const;
};

class SessionSource {
  public:
    virtual ~SessionSource() = default;
    virtual SessionSnapshot read() = 0;
};

struct CameraProcess {
    long pid = 0;
    std::string session;  // empty when it belongs to no known session
};

class CameraLauncher {
  public:
    virtual ~CameraLauncher() = default;
    // Running camera processes other than this one.
    virtual std::vector<CameraProcess> cameras() = 0;
    // Ends a camera and waits for it at most wait_ms; true when it is gone.
    virtual bool end_camera(long pid, unsigned wait_ms) = 0;
    // "--background" [+ "--handover"] as the session's user; pid or -1.
    virtual long start_user_camera(const SessionInfo& s, bool handover) = 0;
    // "--background --logon-screen --handover" on the session's display; pid or -1.
    virtual long start_logon_camera(const SessionInfo& s) = 0;
    // Whether a camera this service started is still running (reaps it when not).
    virtual bool child_running(long pid) = 0;
};

struct WatchState {
    long logon_pid = -1;        // the sign-in-screen camera, -1 when none
    std::string logon_session;  // the session it was started in
};

constexpr unsigned k_watch_interval_ms = 3000;
constexpr unsigned k_end_user_camera_wait_ms = 3000;
constexpr unsigned k_end_logon_camera_wait_ms = 5000;

// The user session to serve: the first active graphical user-class session
// with a display, in enumeration order; nullptr when there is none.
const SessionInfo* served_user_session(const SessionSnapshot& snap);

// One pass of the loop.
void watch_pass(WatchState& st, SessionSource& source, CameraLauncher& launcher);
// On stop: ends the sign-in-screen camera only; a user's camera keeps running.
void watch_stop(WatchState& st, CameraLauncher& launcher);
