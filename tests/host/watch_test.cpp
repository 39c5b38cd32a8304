// The service's watch loop against a scripted session list and a fake
// launcher that records what the loop did to which process.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "engine/paths.h"
#include "host/service.h"
#include "host/session_sources.h"
#include "host/session_watch.h"

namespace {

class ScriptedSource : public SessionSource {
  public:
    SessionSnapshot snap;
    SessionSnapshot read() override { return snap; }
};

class FakeLauncher : public CameraLauncher {
  public:
    std::map<long, std::string> running;  // pid -> session
    std::vector<std::string> log;         // "start S args", "end PID"
    long next_pid = 100;
    bool refuse_end = false;

    std::vector<CameraProcess> cameras() override {
        std::vector<CameraProcess> out;
        for (auto& [pid, s] : running) out.push_back({pid, s});
        return out;
    }
    bool end_camera(long pid, unsigned) override {
        log.push_back("end " + std::to_string(pid));
        if (refuse_end) return false;
        running.erase(pid);
        return true;
    }
    long start_user_camera(const SessionInfo& s, bool handover) override {
        log.push_back("start " + s.id + (handover ? " --background --handover" : " --background"));
        running[next_pid] = s.id;
        return next_pid++;
    }
    long start_logon_camera(const SessionInfo& s) override {
        log.push_back("start " + s.id + " --background --logon-screen --handover");
        running[next_pid] = s.id;
        return next_pid++;
    }
    bool child_running(long pid) override { return running.count(pid) != 0; }
};

SessionInfo greeter(const std::string& id) {
    return {id, true, "greeter", "x11", 110, ":0", "", ""};
}
SessionInfo user(const std::string& id, bool active, const std::string& display = ":0") {
    return {id, active, "user", "x11", 1001, display, "", "/run/user/1001"};
}

using Log = std::vector<std::string>;

// The loop's state with its scripted sessions and fake launcher.
struct Loop {
    ScriptedSource src;
    FakeLauncher fl;
    WatchState st;
    void pass() { watch_pass(st, src, fl); }
    void pass(const SessionSnapshot& s) {
        src.snap = s;
        pass();
    }
};

}  // namespace

// Each row: the sessions over a few passes (one snapshot per pass) and what the
// launcher must have seen at the end.
TEST(WatchLoop, PassesOverScriptedSessions) {
    struct Row {
        const char* name;
        std::vector<SessionSnapshot> passes;
        Log expected;
    };
    const SessionSnapshot nobody{"g1", {greeter("g1")}};
    const SessionSnapshot signed_in{"u2", {greeter("g1"), user("u2", true)}};
    const SessionSnapshot two_active{"u3", {user("u3", true), user("u2", true)}};
    const SessionSnapshot tty_user{"", {{"t1", true, "user", "tty", 1001, "", "", ""}}};
    const Row rows[] = {
        {"nobody signed in: one greeter camera",
         {nobody, nobody, nobody},
         {"start g1 --background --logon-screen --handover"}},
        {"sign-in replaces the greeter camera with a handover",
         {nobody, signed_in, signed_in},
         {"start g1 --background --logon-screen --handover", "end 100",
          "start u2 --background --handover"}},
        {"sign-out brings the greeter camera back after ending the user's",
         {signed_in, nobody},
         {"start u2 --background", "end 100", "start g1 --background --logon-screen --handover"}},
        {"two active sessions: the first in enumeration order",
         {two_active, two_active},
         {"start u3 --background"}},
        {"a text session is not served and has no screen to show", {tty_user, tty_user}, {}},
        {"Windows sessions: the signed-in one is served, not the console's sign-in desktop",
         {{"1", {{"1", false, "greeter", "win32", 0, "winsta0\\winlogon", "", ""}}},
          {"1",
           {{"2", true, "user", "win32", 0, "winsta0\\default", "", ""},
            {"1", false, "greeter", "win32", 0, "winsta0\\winlogon", "", ""}}}},
         {"start 1 --background --logon-screen --handover", "end 100",
          "start 2 --background --handover"}},
        {"the greeter camera follows a change of console",
         {nobody, {"g2", {greeter("g1"), greeter("g2")}}},
         {"start g1 --background --logon-screen --handover", "end 100",
          "start g2 --background --logon-screen --handover"}},
    };
    for (const Row& r : rows) {
        Loop w;
        for (const SessionSnapshot& s : r.passes) w.pass(s);
        EXPECT_EQ(w.fl.log, r.expected) << r.name;
    }
}

TEST(WatchLoop, CamerasOutsideTheUserSessionEndFirst) {
    Loop w;
    w.fl.running = {{7, "u9"}, {8, ""}};  // another session's camera and a stray one
    w.pass({"u2", {user("u2", true)}});
    EXPECT_EQ(w.fl.log, (Log{"end 7", "end 8", "start u2 --background"}));
}

TEST(WatchLoop, KilledUserCameraIsBackWithinOnePass) {
    Loop w;
    w.pass({"u2", {user("u2", true)}});
    w.fl.running.clear();  // kill -9
    w.pass();
    w.pass();
    EXPECT_EQ(w.fl.log, (Log{"start u2 --background", "start u2 --background"}));
    EXPECT_EQ(w.fl.running.size(), 1u);
}

TEST(WatchLoop, DeadGreeterCameraIsReplaced) {
    Loop w;
    w.pass({"g1", {greeter("g1")}});
    w.fl.running.clear();
    w.pass();
    EXPECT_EQ(w.st.logon_pid, 101);
    EXPECT_EQ(w.fl.log.size(), 2u);
}

TEST(WatchLoop, StopEndsTheGreeterCameraOnly) {
    Loop greeter_only, user_only;
    greeter_only.pass({"g1", {greeter("g1")}});
    watch_stop(greeter_only.st, greeter_only.fl);
    EXPECT_TRUE(greeter_only.fl.running.empty());

    user_only.pass({"u2", {user("u2", true)}});
    watch_stop(user_only.st, user_only.fl);
    EXPECT_EQ(user_only.fl.log, (Log{"start u2 --background"}));
    EXPECT_EQ(user_only.fl.running.size(), 1u);
}

TEST(WatchLoop, GreeterCameraThatWillNotEndIsForgotten) {
    // A camera that outlives its end request is not waited on for ever; the
    // user's camera still starts (it waits for the lock itself).
    Loop w;
    w.pass({"g1", {greeter("g1")}});
    w.fl.refuse_end = true;
    w.pass({"u2", {greeter("g1"), user("u2", true)}});
    EXPECT_EQ(w.st.logon_pid, -1);
    EXPECT_EQ(w.fl.log, (Log{"start g1 --background --logon-screen --handover", "end 100",
                             "end 100", "start u2 --background --handover"}));
}

TEST(SessionFile, ParsesConsoleAndSessionsInOrder) {
    const SessionSnapshot s = parse_session_file(
        "console c1\n"
        "session id=c1 active=1 class=greeter type=x11 uid=0 display=:7\n"
        "junk line\n"
        "session active=1 class=user\n"  // no id: ignored
        "session id=c2 active=0 class=user type=x11 uid=1001 display=:8 xauthority=/x "
        "runtime=/run/user/1001\n");
    ASSERT_EQ(s.sessions.size(), 2u);
    EXPECT_EQ(s.console, "c1");
    EXPECT_EQ(s.sessions[0].display, ":7");
    EXPECT_FALSE(s.sessions[1].active);
    EXPECT_EQ(s.sessions[1].uid, 1001u);
    EXPECT_EQ(s.sessions[1].xauthority, "/x");
    EXPECT_EQ(s.sessions[1].runtime_dir, "/run/user/1001");
}

TEST(ServiceUnit, QuotesThePathAndEscapesSpecifiers) {
    const std::string t = service_unit_text("/opt/my 100% cam/zeb_onvif");
    EXPECT_NE(t.find("ExecStart=\"/opt/my 100%% cam/zeb_onvif\" --service\n"), std::string::npos);
    EXPECT_NE(t.find("Description=Vistrel Camera Service - Runs the Vistrel"), std::string::npos);
    EXPECT_NE(t.find("Restart=on-failure\n"), std::string::npos);
    EXPECT_NE(t.find("KillMode=process\n"), std::string::npos);
}

TEST(PanelOnlyRestart, WritesTheRequestWhenTheServiceIsInstalled) {
    char tmpl[] = "/tmp/zeb-req-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    ASSERT_TRUE(make_directories(dir + "/etc/systemd/system"));
    ASSERT_TRUE(write_file_whole(dir + "/etc/systemd/system/vistrel.service", "[Unit]\n"));
    setenv("ZEB_TEST_SYSTEM_ROOT", dir.c_str(), 1);
    EXPECT_TRUE(service_installed());
    EXPECT_TRUE(request_engine_restart(dir));
    unsetenv("ZEB_TEST_SYSTEM_ROOT");
    EXPECT_EQ(read_file(dir + "/restart.req").value_or(""), "1");
    std::filesystem::remove_all(dir);
}
