// Settings parser, typed getters and their bilingual warnings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/engine_config.h"
#include "engine/paths.h"

namespace {

const std::string LRE = "\u202A";
const std::string PDF = "\u202C";

std::string en_warning(const std::string& key, const std::string& shown, const std::string& def) {
    return "\u26A0 Invalid setting in the config file: " + key + " = \"" + shown +
           "\" - using the default " + def;
}
std::string ar_warning(const std::string& key, const std::string& shown, const std::string& def) {
    return "\u26A0 إعداد غير صالح في ملف الإعدادات: " + LRE + key + PDF + " = " + LRE + "\"" +
           shown + "\"" + PDF + " — اتستعملت القيمة الافتراضية " + LRE + def + PDF;
}

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override { reset_config_warnings_for_tests(); }
};

// Reads key "k" with one getter, as text.
using Getter = std::string (*)(const ConfigMap&);

struct GetterCase {
    Getter get;
    std::string value;
    std::string expected;
    const char* warned_default;  // nullptr: no warning
};

}  // namespace

TEST_F(ConfigTest, ParserLineRules) {
    const ConfigMap m = parse_config_text(
        "  # comment\r\n"
        "\r\n"
        "no equals sign here\r\n"
        "fps = 12   \r\n"
        "\tstream\t=\t cam # not a comment\r\n"
        "key_with_trailing_tab\t = x\t\n"
        "fps=15\n"
        "empty =\n"
        "=novalue\n"
        "a = b = c\n"
        "last = no newline");
    EXPECT_EQ(m.at("fps"), "15");  // later line wins
    EXPECT_EQ(m.at("stream"), "cam # not a comment");
    EXPECT_EQ(m.at("key_with_trailing_tab"), "x\t");  // only blanks are cut at the end of a line
    EXPECT_EQ(m.at("empty"), "");
    EXPECT_EQ(m.at("a"), "b = c");
    EXPECT_EQ(m.at("last"), "no newline");
    EXPECT_EQ(m.size(), 6u);
}

// Each getter's accepted and rejected values; a rejected one gives the default
// and exactly one warning, byte-exact in both languages.
TEST_F(ConfigTest, GettersAndTheirWarnings) {
    const Getter fps = [](const ConfigMap& m) {
        return std::to_string(get_int(m, "k", 10, 1, 60));
    };
    const Getter width = [](const ConfigMap& m) {
        return std::to_string(get_int(m, "k", 0, 320, 7680, true));
    };
    const Getter huge = [](const ConfigMap& m) {
        return std::to_string(get_int(m, "k", 5, 1, 2000000000));
    };
    const Getter flag0 = [](const ConfigMap& m) { return std::to_string(get_flag(m, "k", false)); };
    const Getter flag1 = [](const ConfigMap& m) { return std::to_string(get_flag(m, "k", true)); };
    const Getter name = [](const ConfigMap& m) { return get_name(m, "k", "screenlive"); };
    const Getter text = [](const ConfigMap& m) { return get_text(m, "k", "Vistrel", 32); };
    const Getter optional = [](const ConfigMap& m) { return get_text(m, "k", "", 96, true); };
    const Getter address = [](const ConfigMap& m) { return get_address(m, "k"); };
    const GetterCase cases[] = {
        {fps, " 060\t", "60", nullptr},
        {width, "0", "0", nullptr},
        {width, "100", "0", "0"},
        {huge, "100000000", "100000000", nullptr},
        {huge, "100000001", "5", "5"},  // above 100000000 even for a huge range
        {flag0, "007", "1", nullptr},
        {flag0, "true", "0", "0"},
        {flag1, "0", "0", nullptr},
        {flag1, "on", "1", "1"},
        {name, "cam_1-A", "cam_1-A", nullptr},
        {name, "my cam", "screenlive", "screenlive"},
        {text, "Büro 1", "Büro 1", nullptr},
        {text, "A&B", "Vistrel", "Vistrel"},
        {optional, "", "", nullptr},
        {optional, "a<b", "", ""},
        {address, "192.168.001.2", "192.168.001.2", nullptr},
        {address, "256.1.1.1", "", "auto"},
    };
    auto check = [](const GetterCase& c) {
        reset_config_warnings_for_tests();
        EXPECT_EQ(c.get({{"k", c.value}}), c.expected) << c.value;
        const auto w = config_warnings();
        ASSERT_EQ(w.size(), c.warned_default ? 1u : 0u) << c.value;
        if (!c.warned_default) return;
        EXPECT_EQ(w[0].en, en_warning("k", c.value, c.warned_default));
        EXPECT_EQ(w[0].ar, ar_warning("k", c.value, c.warned_default));
    };
    for (const auto& c : cases) check(c);
    for (const char* bad : {"0", "61", "ten", "", "+10", "-1", "1e3", "99999999999999999999"})
        check({fps, bad, "10", "10"});
    // A missing key gives its default silently. The name, clock and warning
    // texts share one reader, each with its own keys and defaults. A port in
    // the file beats the one from the command line.
    reset_config_warnings_for_tests();
    EXPECT_EQ(get_int({}, "fps", 7, 1, 60), 7);
    EngineConfig ec = read_engine_config(
        {{"osd_clock_op", "100"}, {"warn_color", "9"}, {"rtsp_port", "9000"}}, 554, 8081);
    EXPECT_EQ(ec.rtsp_port, 9000);
    EXPECT_EQ(ec.onvif_port, 8081);
    EXPECT_EQ(ec.osd_clock_op, 100);
    EXPECT_EQ(ec.warn_color, 3);
    EXPECT_EQ(ec.warn_op, 80);
    EXPECT_EQ(ec.osd_name_pos, 3);
    ASSERT_EQ(config_warnings().size(), 1u);
    EXPECT_EQ(config_warnings()[0].en, en_warning("warn_color", "9", "3"));
    for (const char* bad :
         {"1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.4 ", "a.b.c.d", "1234.1.1.1", ".1.2.3"})
        EXPECT_FALSE(is_valid_ipv4(bad)) << bad;
    EXPECT_TRUE(is_valid_ipv4("0.0.0.0"));
    EXPECT_TRUE(is_valid_ipv4("255.255.255.255"));
}

TEST_F(ConfigTest, ShownValueIsCutSafelyAndPasswordHidden) {
    // 24 bytes are shown whole, more are cut, never inside a UTF-8 character,
    // and control bytes never pass through.
    const std::string y24(24, 'y');
    EXPECT_EQ(invalid_value_warning("k", y24, "1").en, en_warning("k", y24, "1"));
    EXPECT_EQ(invalid_value_warning("k", y24 + "y", "1").ar, ar_warning("k", y24 + "...", "1"));
    EXPECT_EQ(invalid_value_warning("k", std::string(23, 'a') + "éééé", "1").en,
              en_warning("k", std::string(23, 'a') + "...", "1"));
    EXPECT_EQ(invalid_value_warning("k", "a\x1b[2Jb", "1").en, en_warning("k", "a?[2Jb", "1"));

    read_engine_config({{"admin_pass", "my<secret>pass"}});
    ASSERT_EQ(config_warnings().size(), 1u);
    EXPECT_EQ(config_warnings()[0].en,
              "\u26A0 Invalid setting in the config file: admin_pass = \"(hidden)\" - login locked "
              "until the password is set again");
    EXPECT_EQ(config_warnings()[0].ar.find("secret"), std::string::npos);
}

// A stream_auth value that cannot be read keeps authentication on, with a
// warning that says so; readable values are taken as they are.
TEST_F(ConfigTest, UnreadableStreamAuthKeepsAuthenticationOn) {
    const struct {
        std::string value;
        bool on;
        const char* shown;  // nullptr: no warning
    } cases[] = {
        {"0", false, nullptr},
        {" 1 ", true, nullptr},
        {"00", false, nullptr},
        {std::string("1\0", 2), true, "1?"},
        {std::string("0\0", 2), true, "0?"},
        {"off", true, "off"},
        {"", true, ""},
        {"-1", true, "-1"},
    };
    for (const auto& c : cases) {
        reset_config_warnings_for_tests();
        EXPECT_EQ(read_engine_config({{"stream_auth", c.value}}).stream_auth, c.on) << c.value;
        const auto w = config_warnings();
        ASSERT_EQ(w.size(), c.shown ? 1u : 0u) << c.value;
        if (c.shown) {
            EXPECT_EQ(w[0].en, std::string("\u26A0 Invalid setting in the config file: "
                                           "stream_auth = \"") +
                                   c.shown +
                                   "\" - authentication stays on (1) until the value "
                                   "is fixed");
        }
    }
    EXPECT_FALSE(read_engine_config({}).stream_auth);  // missing: the default, off
}

TEST_F(ConfigTest, WarningListDedupesAndCaps) {
    read_engine_config({{"fps", "ten"}});
    read_engine_config({{"fps", "ten"}});  // a later re-read
    EXPECT_EQ(config_warnings().size(), 1u);
    for (int i = 0; i < 10; ++i) add_config_warning({"w" + std::to_string(i), "a"});
    EXPECT_EQ(config_warnings().size(), k_max_config_warnings);
}

// The factory defaults must be settings this program accepts without a warning.
TEST_F(ConfigTest, FactoryDefaultsAreValidInBothVariants) {
    const std::string en = factory_defaults_text(false);
    const std::string ar = factory_defaults_text(true);
    EXPECT_EQ(en.substr(en.find("\r\n")), ar.substr(ar.find("\r\n")));
    EXPECT_EQ(read_engine_config(parse_config_text(en)).web_port, 13030);
    EXPECT_TRUE(config_warnings().empty());
}

TEST(AdminPass, PlainEncodedAndTampered) {
    char tmpl[] = "/tmp/zeb-pass-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    bool tampered = true;
    const std::string enc = encode_admin_pass("pässword 1", dir);
    ASSERT_EQ(enc.rfind("enc:", 0), 0u);
    EXPECT_TRUE(is_valid_text(enc, k_admin_pass_max_len, false));
    EXPECT_EQ(decode_admin_pass(enc, dir, &tampered), "pässword 1");
    EXPECT_FALSE(tampered);

    // One altered byte of the blob or bad Base64: tampered, and a password
    // nobody can type.
    std::string altered = enc;
    altered[10] = altered[10] == 'A' ? 'B' : 'A';
    for (const std::string& bad : {altered, std::string("enc:***"), std::string("enc:")}) {
        std::string p = decode_admin_pass(bad, dir, &tampered);
        EXPECT_TRUE(tampered) << bad;
        ASSERT_FALSE(p.empty());
        EXPECT_LT(static_cast<unsigned char>(p[0]), 0x20);
    }
    // A plain value under the protected-password marker: tampered.
    ASSERT_TRUE(write_pwenc_marker(dir, true));
    decode_admin_pass("secret", dir, &tampered);
    EXPECT_TRUE(tampered);
    EXPECT_EQ(decode_admin_pass(enc, dir, &tampered), "pässword 1");
    EXPECT_FALSE(tampered);
    ASSERT_TRUE(write_pwenc_marker(dir, false));
    EXPECT_EQ(decode_admin_pass("secret", dir, &tampered), "secret");
    EXPECT_FALSE(tampered);
    std::system(("rm -rf " + dir).c_str());
}
