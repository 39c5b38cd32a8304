// Request reading, cookies, sessions and lockout (with a test clock), the
// router's gate, recovery codes, the QR encoder and the paused picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/engine_config.h"
#include "engine/log.h"
#include "engine/paths.h"
#include "web/qr_code.h"
#include "web/recovery.h"
#include "web/web_pages.h"
#include "web/web_request.h"
#include "web/web_server.h"
#include "web/web_sessions.h"
#include "web/web_snapshot.h"

namespace {

// Feeds the text in pieces of at most `step` bytes, then reports a close.
WebByteSource feed(const std::string& text, size_t step = 4096) {
    auto pos = std::make_shared<size_t>(0);
    return [text, step, pos](char* buf, size_t len) -> long {
        if (*pos >= text.size()) return 0;
        const size_t n = std::min({len, step, text.size() - *pos});
        std::copy_n(text.data() + *pos, n, buf);
        *pos += n;
        return static_cast<long>(n);
    };
}

std::string header_of_size(size_t total) {  // request whose header block is `total` bytes
    std::string h = "GET /login HTTP/1.1\r\nX-Pad: ";
    h += std::string(total - h.size() - 4, 'a');
    return h + "\r\n\r\n";
}

struct ReadCase {
    const char* name;
    std::string input;
    ReadOutcome outcome;
    const char* method = "";
    const char* path = "";
    size_t body_size = 0;
    size_t step = 4096;  // bytes the source hands over at most per read
};

TEST(WebRequest, ReadsWithinTheBounds) {
    const std::string big_body(65536, 'b');
    const ReadCase cases[] = {
        {"header block of 16384 bytes", header_of_size(16384), ReadOutcome::ok, "GET", "/login", 0,
         1000},
        {"header block of 16385 bytes", header_of_size(16385), ReadOutcome::header_too_large},
        {"16385 bytes, no blank line", std::string(16385, 'x'), ReadOutcome::header_too_large},
        {"body of 65536", "POST /login HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + big_body,
         ReadOutcome::ok, "POST", "/login", 65536, 3000},
        {"body of 65537", "POST /login HTTP/1.1\r\ncontent-length:65537\r\n\r\n",
         ReadOutcome::body_too_large},
        {"huge length", "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
         ReadOutcome::body_too_large},
        {"short body", "POST /save HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc",
         ReadOutcome::incomplete_body},
        {"closed before the blank line", "GET / HTTP/1.1\r\nHost: x\r\n", ReadOutcome::closed},
        {"nothing at all", "", ReadOutcome::closed},
        {"bytes past the body ignored", "POST /ping HTTP/1.1\r\nContent-Length: 2\r\n\r\nokEXTRA",
         ReadOutcome::ok, "POST", "/ping", 2, 1},
        {"length in another header's value",
         "GET / HTTP/1.1\r\nReferer: /?content-length:99999\r\n\r\n", ReadOutcome::ok, "GET", "/"},
        {"query cut", "GET /login?x=1&y=2 HTTP/1.1\r\n\r\n", ReadOutcome::ok, "GET", "/login"},
        {"fragment cut", "GET /#top HTTP/1.1\r\n\r\n", ReadOutcome::ok, "GET", "/"},
        {"fragment before query", "GET /log#a?b HTTP/1.1\r\n\r\n", ReadOutcome::ok, "GET", "/log"},
        {"one-token request line", "GET\r\nHost: a b\r\n\r\n", ReadOutcome::ok, "GET", "/"},
        {"two tokens", "GET /log\r\n\r\n", ReadOutcome::ok, "GET", "/"},
        {"non-numeric length is 0", "POST /ping HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
         ReadOutcome::ok, "POST", "/ping"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        WebRequest r;
        ASSERT_EQ(read_web_request(feed(c.input, c.step), &r), c.outcome);
        if (c.outcome != ReadOutcome::ok) continue;
        EXPECT_EQ(r.method, c.method);
        EXPECT_EQ(r.path, c.path);
        EXPECT_EQ(r.body.size(), c.body_size);
    }
}

TEST(WebRequest, SessionCookie) {
    const std::pair<const char*, const char*> cases[] = {
        {"GET / HTTP/1.1\r\nCookie: zeb_sess=abc\r\n\r\n", "abc"},
        {"GET / HTTP/1.1\r\ncookie: a=1; zeb_sess= \tabc \t; b=2\r\n\r\n", "abc"},
        {"GET / HTTP/1.1\r\nCOOKIE: theme=dark;zeb_sess=0123abcd\r\n\r\n", "0123abcd"},
        {"GET / HTTP/1.1\r\nCookie: ZEB_SESS=abc\r\n\r\n", ""},
        {"GET / HTTP/1.1\r\nCookie: zeb_sess=\r\n\r\n", ""},
        {"GET / HTTP/1.1\r\nCookie: a=1\r\nX: zeb_sess=abc\r\n\r\n", ""},
        {"GET / HTTP/1.1\r\n\r\n", ""},
    };
    for (const auto& [header, token] : cases) EXPECT_EQ(session_cookie(header), token) << header;
}

// A context with a clock the test moves and its own data directory.
struct Panel {
    WebAdminContext ctx;
    uint64_t now = 1000000;
    std::string dir;
    Panel() {
        dir = std::filesystem::temp_directory_path() /
              ("zeb-web-" + std::to_string(::getpid()) + "-" + std::to_string(++counter()));
        std::filesystem::create_directories(dir);
        ctx.data_dir = dir;
        ctx.cfg_path = dir + "/zeb.cfg";
        ctx.admin_user = "admin";
        ctx.admin_pass = "tolvu";
        ctx.machine_id = "ABCD-0123-4567-89EF";
        ctx.version_text = "2.0.5 for Windows Server";
        ctx.sessions.now = [this] { return now; };
        ctx.snapshot = [] { return std::string("\xff\xd8jpeg"); };
        ctx.log_text = [] { return std::string("line1\nline2"); };
        web_context_init(ctx);
    }
    ~Panel() { std::filesystem::remove_all(dir); }
    static int& counter() {
        static int n = 0;
        return n;
    }
    WebAnswer answer(const std::string& method, const std::string& path,
                     const std::string& cookie = "", const std::string& body = "") {
        WebRequest r;
        r.method = method;
        r.path = path;
        r.header = method + " " + path + " HTTP/1.1\r\n" +
                   (cookie.empty() ? "" : "Cookie: zeb_sess=" + cookie + "\r\n") + "\r\n";
        r.body = body;
        return route_request(ctx, r, "192.0.2.7");
    }
    std::string send(const std::string& method, const std::string& path,
                     const std::string& cookie = "", const std::string& body = "") {
        return answer(method, path, cookie, body).bytes;
    }
    std::string login(const std::string& pass = "tolvu") {
        const std::string a = send("POST", "/login", "", "user=admin&pass=" + pass);
        const size_t at = a.find("zeb_sess=");
        return at == std::string::npos ? "" : a.substr(at + 9, 32);
    }
};

std::string status_of(const std::string& answer) {
    return answer.substr(9, answer.find("\r\n") - 9);
}

TEST(WebSessions, IdleLimitAndRefresh) {
    Panel p;
    const std::string token = p.login();
    ASSERT_EQ(token.size(), 32u);
    p.now += 299999;
    EXPECT_EQ(status_of(p.send("GET", "/log", token)), "200 OK");  // refreshes
    // Polling the snapshot alone does not keep the session alive.
    for (int i = 0; i < 299; ++i) {
        p.now += 1000;
        ASSERT_EQ(status_of(p.send("GET", "/snapshot.jpg", token)), "200 OK") << i;
    }
    p.now += 1001;  // 300.001 s after the last refreshing request
    EXPECT_EQ(status_of(p.send("GET", "/snapshot.jpg", token)), "401 Unauthorized");
    EXPECT_EQ(status_of(p.send("POST", "/ping", token)), "401 Unauthorized");

    const std::string t2 = p.login();
    p.now += 200000;
    EXPECT_EQ(status_of(p.send("POST", "/ping", t2)), "200 OK");
    p.now += 200000;  // alive only thanks to the ping
    EXPECT_EQ(status_of(p.send("GET", "/log", t2)), "200 OK");
    EXPECT_EQ(p.send("POST", "/logout", t2).substr(0, 21), "HTTP/1.1 302 Found\r\nL");
    EXPECT_EQ(status_of(p.send("GET", "/log", t2)), "401 Unauthorized");
}

TEST(WebSessions, GlobalLockout) {
    Panel p;
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(status_of(p.send("POST", "/login", "", "user=admin&pass=x")), "401 Unauthorized");
    EXPECT_FALSE(p.login().empty());  // the seventh failure did not lock; success resets
    p.send("POST", "/login", "", "user=x%0AWeb+Admin+ready&pass=y");  // cannot forge a log line
    EXPECT_EQ(LogRing::lines().back(), "Web: failed login attempt (user=x?Web Admin ready)");
    for (int i = 0; i < 6; ++i) p.login("nope");
    EXPECT_FALSE(p.login().empty());
    for (int i = 0; i < 8; ++i) p.login("nope");
    const std::string locked = p.send("POST", "/login", "", "user=admin&pass=tolvu");
    EXPECT_EQ(status_of(locked), "429 Too Many Requests");
    EXPECT_NE(locked.find("if(1)"), std::string::npos);  // the error line shows
    EXPECT_EQ(p.ctx.settings.check_login("admin", "tolvu"), 2);
    EXPECT_EQ(status_of(p.send("POST", "/recover", "", "code=x")), "429 Too Many Requests");
    p.now += 59999;
    EXPECT_TRUE(p.login().empty());
    p.now += 1;
    EXPECT_FALSE(p.login().empty());
    EXPECT_EQ(p.ctx.settings.check_login("admin", "bad"), 1);
    EXPECT_EQ(p.ctx.settings.check_login("admin", "tolvu"), 0);
}

TEST(WebSessions, Credentials) {
    struct {
        const char *user, *pass, *stored_pass;
        bool ok;
    } cases[] = {
        {"admin", "tolvu", "tolvu", true},
        {"Admin", "tolvu", "tolvu", false},
        {"admin", "tolvu!", "tolvu", false},
        {"admin", "tolv", "tolvu", false},
        {"admin", "", "", false},
        {"admin", "x", "", false},
        {"", "tolvu", "tolvu", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(check_credentials("admin", c.stored_pass, c.user, c.pass), c.ok)
            << c.user << "/" << c.pass;
}

// The gate's fixed answers are checked byte for byte on the real server
// (e2e_web_http.py); here the routes behind it.
TEST(WebRouter, RoutesBehindTheGate) {
    Panel p;
    const std::string t = p.login();
    EXPECT_EQ(
        p.send("PUT", "/login", t),
        "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
        "9\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\nnot found");
    EXPECT_EQ(p.send("POST", "/ping", t).substr(0, 64),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n");
    EXPECT_NE(p.send("GET", "/", t).find("data-i18n"), std::string::npos);
    EXPECT_NE(p.send("GET", "/log", t).find("\r\n\r\nline1\nline2"), std::string::npos);
    EXPECT_EQ(p.send("GET", "/snapshot.jpg", t),
              "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-store\r\n"
              "X-Content-Type-Options: nosniff\r\nContent-Length: 6\r\nConnection: close\r\n\r\n"
              "\xff\xd8jpeg");
}

TEST(WebSessions, StoredSessionsSurviveARelaunch) {
    Panel a;
    const std::string token = a.login();
    save_sessions(a.ctx.sessions, a.dir);
    const std::string stored = *read_file(a.dir + "/sessions.dat");
    EXPECT_EQ(stored.rfind("enc:", 0), 0u);
    EXPECT_EQ(stored.find(token), std::string::npos);

    WebSessions next;  // the relaunched engine
    uint64_t now = a.now + 250000;
    next.now = [&now] { return now; };
    load_sessions(next, a.dir);
    const std::string header = "GET / HTTP/1.1\r\nCookie: zeb_sess=" + token + "\r\n\r\n";
    EXPECT_TRUE(check_session(next, header, false));
    WebSessions late;
    late.now = [&] { return a.now + 300001; };
    load_sessions(late, a.dir);
    EXPECT_FALSE(check_session(late, header, false));
    EXPECT_TRUE(parse_sessions_text("abc 5\nbad x\nfuture 99\n", 10).size() == 1);
}

TEST(WebLogin, HintAndErrorMark) {
    Panel p;
    EXPECT_NE(p.send("GET", "/login").find("class=\"hint\""), std::string::npos);
    for (int i = 0; i < 5; ++i) p.login();
    EXPECT_EQ(p.send("GET", "/login").find("class=\"hint\""), std::string::npos);
    const std::string page = login_page({"ID-1", "9.9", false, false});
    EXPECT_NE(page.find("if(0)document.getElementById('err')"), std::string::npos);
    EXPECT_NE(page.find("<code>ID-1</code>"), std::string::npos);
    EXPECT_NE(page.find(">v9.9</div>\n</body></html>"), std::string::npos);
}

TEST(WebRecovery, Codes) {
    const std::string key(32, 'k');
    const int64_t now = 1800000000;
    const std::string code = make_recovery_code(key, "M1", now + k_recovery_validity_s);
    int64_t expiry = 0;
    EXPECT_EQ(check_recovery_code(key, "M1", code, now, &expiry), RecoveryVerdict::valid);
    EXPECT_LE(now + k_recovery_validity_s - expiry, 60);
    std::string lower = code;
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(check_recovery_code(key, "M1", " " + lower, now), RecoveryVerdict::valid);
    EXPECT_EQ(check_recovery_code(key, "M2", code, now), RecoveryVerdict::invalid);
    EXPECT_EQ(check_recovery_code(std::string(32, 'j'), "M1", code, now), RecoveryVerdict::invalid);
    EXPECT_EQ(check_recovery_code(key, "M1", code, now + k_recovery_validity_s + 1),
              RecoveryVerdict::expired);
    std::string flipped = code;
    flipped[3] = flipped[3] == 'A' ? 'B' : 'A';
    EXPECT_EQ(check_recovery_code(key, "M1", flipped, now), RecoveryVerdict::invalid);
    EXPECT_EQ(check_recovery_code(key, "M1", "", now), RecoveryVerdict::invalid);
    EXPECT_EQ(check_recovery_code(key, "M1", make_recovery_code(key, "M1", now + 7 * 86400), now),
              RecoveryVerdict::invalid);
}

TEST(WebRecovery, RouteResetsOnceAndRefusesReplay) {
    Panel p;
    write_file_whole(p.ctx.cfg_path,
                     "rtsp_port = 554\r\nadmin_user = boss\r\nadmin_pass = enc:xyz\r\n");
    const std::string code = make_recovery_code(recovery_key(p.dir), p.ctx.machine_id,
                                                unix_now() + k_recovery_validity_s);
    EXPECT_EQ(status_of(p.send("POST", "/recover", "", "code=nonsense")), "400 Bad Request");
    const WebAnswer a = p.answer("POST", "/recover", "", "code=" + code);
    EXPECT_EQ(status_of(a.bytes), "200 OK");
    EXPECT_EQ(a.after, AfterAnswer::relaunch);
    const ConfigMap m = load(p.ctx.cfg_path);
    EXPECT_EQ(m.at("admin_user"), "admin");
    EXPECT_EQ(m.at("admin_pass"), "tolvu");
    EXPECT_EQ(m.at("rtsp_port"), "554");
    const std::string again = p.send("POST", "/recover", "", "code=" + code);
    EXPECT_NE(again.find("{\"ok\":false,\"e\":\"used\"}"), std::string::npos);
}

// Largest byte count of each version at level M.
const int k_qr_capacity[] = {0, 14, 26, 42, 62, 84, 106, 122, 152, 180, 213};

TEST(WebQr, VersionsAndSvg) {
    const auto& cap = k_qr_capacity;
    for (int v = 1; v <= 10; ++v) {
        EXPECT_EQ(qr_version_for(cap[v]), v);
        EXPECT_EQ(qr_version_for(cap[v] + 1), v == 10 ? 0 : v + 1);
    }
    const std::string link = support_link("ABCD-0123-4567-89EF");
    std::string l106 = link + std::string(106 - link.size(), 'x');
    auto m = qr_encode(l106);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->version, 6);
    EXPECT_EQ(m->size, 41);
    EXPECT_NE(qr_svg(*m).find("viewBox=\"0 0 49 49\""), std::string::npos);
    EXPECT_FALSE(qr_encode(std::string(214, 'a')));
    Panel p;
    p.ctx.machine_id = std::string(150, 'F');
    EXPECT_EQ(p.send("GET", "/qr.svg").substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
    EXPECT_NE(p.send("GET", "/qr.svg").find("\r\n\r\nno qr"), std::string::npos);
}

TEST(WebQr, PenaltyOfAnAllLightSymbol) {
    // Runs of 21 (3 + 16 each, 42 lines), 400 one-colour squares, 0 % dark.
    QrMatrix line{1, 21, 0, std::vector<uint8_t>(21 * 21, 0)};
    EXPECT_EQ(qr_penalty(line), 21 * 2 * (3 + 16) + 20 * 20 * 3 + 10 * 10);
}

// Decodes each version with a reader we did not write.
TEST(WebQr, DecodesWithZbar) {
    if (std::system("command -v zbarimg >/dev/null && command -v rsvg-convert >/dev/null") != 0)
        GTEST_SKIP() << "zbarimg or rsvg-convert missing";
    const std::string dir =
        std::filesystem::temp_directory_path() / ("zeb-qr-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (int v = 1; v <= 10; ++v) {
        std::string text = "v" + std::to_string(v) + ":";
        while (text.size() < static_cast<size_t>(k_qr_capacity[v]))
            text += static_cast<char>('a' + text.size() % 26);
        auto m = qr_encode(text);
        ASSERT_TRUE(m);
        ASSERT_EQ(m->version, v);
        std::ofstream(dir + "/q.svg") << qr_svg(*m);
        const std::string cmd = "rsvg-convert -z 6 " + dir + "/q.svg -o " + dir +
                                "/q.png 2>/dev/null && zbarimg --raw -q " + dir +
                                "/q.png 2>/dev/null";
        FILE* f = popen(cmd.c_str(), "r");
        ASSERT_TRUE(f);
        std::string out;
        char buf[512];
        while (size_t n = fread(buf, 1, sizeof buf, f)) out.append(buf, n);
        pclose(f);
        while (!out.empty() && out.back() == '\n') out.pop_back();
        EXPECT_EQ(out, text) << "version " << v << " mask " << m->mask;
    }
    std::filesystem::remove_all(dir);
}

TEST(WebSnapshot, PausedPictureLayout) {
    const int w = 1920, h = 1080;
    auto px = paint_web_paused_picture(w, h);
    ASSERT_EQ(px.size(), size_t(w) * h * 4);
    auto at = [&](int x, int y) { return &px[(size_t(y) * w + x) * 4]; };
    EXPECT_EQ(at(5, 5)[2], 15);  // BGRX: red, green, blue of RGB(15,15,20)
    EXPECT_EQ(at(5, 5)[0], 20);
    auto bright_rows = [&](int from, int to) {
        int rows = 0;
        for (int y = from; y < to; ++y)
            for (int x = 0; x < w; ++x)
                if (at(x, y)[1] > 120) {
                    ++rows;
                    break;
                }
        return rows;
    };
    EXPECT_GT(bright_rows(h / 2 - 45, h / 2 + 45), 20);  // the Arabic line, 90 px, centred
    EXPECT_GT(bright_rows(626, 626 + 60), 10);           // the English line from row 626
    EXPECT_EQ(bright_rows(0, 400), 0);
    EXPECT_TRUE(paint_web_paused_picture(0, 10).empty());
}

}  // namespace
