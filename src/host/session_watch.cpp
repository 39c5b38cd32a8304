// The watch loop's passes; see session_watch.h.
#include "host/session_watch.h"

#include "engine/log.h"

const SessionInfo* SessionSnapshot::find(const std::string& wanted) const {
    if (wanted.empty()) return nullptr;
    for (const SessionInfo& s : sessions)
        if (s.id == wanted) return &s;
    return nullptr;
}

const SessionInfo* served_user_session(const SessionSnapshot& snap) {
    for (const SessionInfo& s : snap.sessions) {
        // "win32": an interactive window station of a Windows session.
        const bool graphical = s.type == "x11" || s.type == "wayland" || s.type == "win32";
        if (s.active && s.session_class == "user" && graphical && !s.display.empty()) return &s;
    }
    return nullptr;
}

namespace {

void end_logon_camera(WatchState& st, CameraLauncher& launcher) {
    if (!launcher.end_camera(st.logon_pid, k_end_logon_camera_wait_ms))
        engine_log("Service: the sign-in-screen camera (pid %ld) did not end in time\n",
                   st.logon_pid);
    st.logon_pid = -1;
    st.logon_session.clear();
}

}  // namespace

void watch_pass(WatchState& st, SessionSource& source, CameraLauncher& launcher) {
    const SessionSnapshot snap = source.read();
    // The sign-in screen can only be served where there is a display to show it.
    const SessionInfo* console = snap.find(snap.console);
    if (console && console->display.empty()) console = nullptr;
    const SessionInfo* user = served_user_session(snap);

    bool handover = false;
    bool keep_logon = false;
    if (st.logon_pid >= 0) {
        if (!launcher.child_running(st.logon_pid)) {
            st.logon_pid = -1;
            st.logon_session.clear();
        } else if (!user && console && console->id == st.logon_session) {
            keep_logon = true;
        } else {
            end_logon_camera(st, launcher);
            handover = true;
        }
    }

    if (!keep_logon && user) {
        bool running = false;
        for (const CameraProcess& c : launcher.cameras()) running |= c.session == user->id;
        if (running) return;
        for (const CameraProcess& c : launcher.cameras()) {
            if (c.session == user->id) continue;
            engine_log("Service: ending the camera (pid %ld) outside session %s\n", c.pid,
                       user->id.c_str());
            launcher.end_camera(c.pid, k_end_user_camera_wait_ms);
        }
        const long pid = launcher.start_user_camera(*user, handover);
        if (pid >= 0)
            engine_log("Service: camera started in session %s for uid %u (pid %ld)\n",
                       user->id.c_str(), user->uid, pid);
        return;
    }
    if (console && st.logon_pid < 0) {
        for (const CameraProcess& c : launcher.cameras()) {
            engine_log("Service: ending the camera (pid %ld) before the sign-in screen\n", c.pid);
            launcher.end_camera(c.pid, k_end_user_camera_wait_ms);
        }
        const long pid = launcher.start_logon_camera(*console);
        if (pid >= 0) {
            st.logon_pid = pid;
            st.logon_session = console->id;
            engine_log("Service: sign-in-screen camera started in session %s (pid %ld)\n",
                       console->id.c_str(), pid);
        }
    }
}

void watch_stop(WatchState& st, CameraLauncher& launcher) {
    if (st.logon_pid >= 0 && launcher.child_running(st.logon_pid)) end_logon_camera(st, launcher);
    st.logon_pid = -1;
    st.logon_session.clear();
}
