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
    EXPECT_EQ(m.count(""), 0u);
    EXPECT_EQ(m.size(), 6u);
}

TEST_F(ConfigTest, IntegerEdgeCasesGiveDefaultAndOneWarning) {
    for (const char* bad : {"0", "61", "ten", "", "+10", "-1", "1e3", "99999999999999999999"}) {
        reset_config_warnings_for_tests();
        ConfigMap m{{"fps", bad}};
        EXPECT_EQ(get_int(m, "fps", 10, 1, 60), 10) << bad;
        auto w = config_warnings();
        ASSERT_EQ(w.size(), 1u) << bad;
        EXPECT_EQ(w[0].en, en_warning("fps", bad, "10"));
        EXPECT_EQ(w[0].ar, ar_warning("fps", bad, "10"));
    }
    reset_config_warnings_for_tests();
    ConfigMap ok{
        {"fps", " 060\t"}, {"main_width", "0"}, {"motion_corners", "0"}, {"motion_top", "0"}};
    EXPECT_EQ(get_int(ok, "fps", 10, 1, 60), 60);
    EXPECT_EQ(get_int(ok, "main_width", 0, 320, 7680, true), 0);
    EXPECT_EQ(get_int(ok, "motion_corners", 0, 0, 30), 0);
    EXPECT_EQ(get_int(ok, "motion_top", 0, 0, 40), 0);
    EXPECT_EQ(get_int(ok, "missing", 7, 1, 60), 7);
    EXPECT_TRUE(config_warnings().empty());

    ConfigMap narrow{{"main_width", "100"}};
    EXPECT_EQ(get_int(narrow, "main_width", 0, 320, 7680, true), 0);
    ASSERT_EQ(config_warnings().size(), 1u);
    EXPECT_EQ(config_warnings()[0].en, en_warning("main_width", "100", "0"));

    // Above 100000000 counts as out of range even for a huge range.
    reset_config_warnings_for_tests();
    ConfigMap big{{"n", "100000001"}, {"m", "100000000"}};
    EXPECT_EQ(get_int(big, "n", 5, 1, 2000000000), 5);
    EXPECT_EQ(get_int(big, "m", 5, 1, 2000000000), 100000000);
}

TEST_F(ConfigTest, FlagsNamesTextsAddresses) {
    ConfigMap m{{"a", "1"},
                {"b", "0"},
                {"c", "007"},
                {"d", "true"},
                {"e", "on"},
                {"s1", "cam_1-A"},
                {"s2", "my cam"},
                {"dev", "A&B"},
                {"dev2", "Büro 1"},
                {"t", ""},
                {"ip", "192.168.001.2"},
                {"ip2", "256.1.1.1"},
                {"ip3", "auto"}};
    EXPECT_TRUE(get_flag(m, "a", false));
    EXPECT_FALSE(get_flag(m, "b", true));
    EXPECT_TRUE(get_flag(m, "c", false));
    EXPECT_FALSE(get_flag(m, "d", false));
    EXPECT_TRUE(get_flag(m, "e", true));
    EXPECT_EQ(get_name(m, "s1", "screenlive"), "cam_1-A");
    EXPECT_EQ(get_name(m, "s2", "screenlive"), "screenlive");
    EXPECT_EQ(get_text(m, "dev", "Vistrel", 32), "Vistrel");
    EXPECT_EQ(get_text(m, "dev2", "Vistrel", 32), "Büro 1");
    EXPECT_EQ(get_text(m, "t", "", 96, true), "");
    EXPECT_EQ(get_address(m, "ip"), "192.168.001.2");
    EXPECT_EQ(get_address(m, "ip2"), "");
    EXPECT_EQ(get_address(m, "ip3"), "");
    auto w = config_warnings();
    ASSERT_EQ(w.size(), 5u);  // d, e, s2, dev, ip2 (ip3 no longer fits)
    EXPECT_EQ(w[0].en, en_warning("d", "true", "0"));
    EXPECT_EQ(w[1].en, en_warning("e", "on", "1"));
    EXPECT_EQ(w[2].en, en_warning("s2", "my cam", "screenlive"));
    EXPECT_EQ(w[3].en, en_warning("dev", "A&B", "Vistrel"));
    EXPECT_EQ(w[3].ar, ar_warning("dev", "A&B", "Vistrel"));
    EXPECT_EQ(w[4].en, en_warning("ip2", "256.1.1.1", "auto"));

    for (const char* bad :
         {"1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.4 ", "a.b.c.d", "1234.1.1.1", ".1.2.3"})
        EXPECT_FALSE(is_valid_ipv4(bad)) << bad;
    EXPECT_TRUE(is_valid_ipv4("0.0.0.0"));
    EXPECT_TRUE(is_valid_ipv4("255.255.255.255"));
}

TEST_F(ConfigTest, LongValueShownCutAndEmptyTextDefault) {
    const std::string forty(40, 'x');
    ConfigMap m{{"fps", forty}, {"osd_name_text", "a<b"}};
    get_int(m, "fps", 10, 1, 60);
    get_text(m, "osd_name_text", "", 96, true);
    auto w = config_warnings();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].en, en_warning("fps", std::string(24, 'x') + "...", "10"));
    EXPECT_EQ(w[0].ar, ar_warning("fps", std::string(24, 'x') + "...", "10"));
    EXPECT_EQ(
        w[1].en,
        "\u26A0 Invalid setting in the config file: osd_name_text = \"a<b\" - using the default ");
    // 24 bytes exactly are shown whole; 25 are cut.
    EXPECT_EQ(invalid_value_warning("k", std::string(24, 'y'), "1").en,
              en_warning("k", std::string(24, 'y'), "1"));
    EXPECT_EQ(invalid_value_warning("k", std::string(25, 'y'), "1").en,
              en_warning("k", std::string(24, 'y') + "...", "1"));
    // Never split a UTF-8 character, never pass control bytes through.
    const std::string accents = std::string(23, 'a') + "éééé";
    EXPECT_EQ(invalid_value_warning("k", accents, "1").en,
              en_warning("k", std::string(23, 'a') + "...", "1"));
    EXPECT_EQ(invalid_value_warning("k", "a\x1b[2Jb", "1").en, en_warning("k", "a?[2Jb", "1"));
}

TEST_F(ConfigTest, WarningListDedupesAndCaps) {
    ConfigMap m{{"fps", "ten"}};
    EngineConfig c1 = read_engine_config(m);
    EngineConfig c2 = read_engine_config(m);  // a later re-read
    EXPECT_EQ(c1.fps, 10);
    EXPECT_EQ(c2.fps, 10);
    EXPECT_EQ(config_warnings().size(), 1u);
    for (int i = 0; i < 10; ++i) add_config_warning({"w" + std::to_string(i), "a"});
    EXPECT_EQ(config_warnings().size(), k_max_config_warnings);
}

TEST_F(ConfigTest, InvalidPasswordIsNeverShown) {
    EngineConfig c = read_engine_config({{"admin_pass", "my<secret>pass"}});
    ASSERT_EQ(config_warnings().size(), 1u);
    EXPECT_EQ(config_warnings()[0].en,
              "\u26A0 Invalid setting in the config file: admin_pass = \"(hidden)\" - using the "
              "default tolvu");
    EXPECT_EQ(config_warnings()[0].ar.find("secret"), std::string::npos);
}

TEST_F(ConfigTest, EngineConfigDefaultsAndPositionalPorts) {
    EngineConfig c = read_engine_config({}, 554, 8081);
    EXPECT_EQ(c.rtsp_port, 554);
    EXPECT_EQ(c.onvif_port, 8081);
    EXPECT_EQ(c.web_port, 8080);
    EXPECT_TRUE(c.web_admin && c.discovery && c.substream && c.stream_on && c.osd_name &&
                c.osd_clock);
    EXPECT_FALSE(c.stream_auth || c.audio || c.motion || c.warn_live || c.show_cursor);
    EXPECT_EQ(c.stream, "screenlive");
    EXPECT_EQ(c.sub_stream, "screensub");
    EXPECT_EQ(c.admin_user, "admin");
    EXPECT_EQ(c.admin_pass, "tolvu");
    EXPECT_EQ(c.device_name, "Vistrel");
    EXPECT_EQ(c.warn_color, 3);
    EXPECT_EQ(c.motion_hold, 3000);
    EXPECT_TRUE(config_warnings().empty());
    // A key in the file beats the command-line default.
    EngineConfig d = read_engine_config({{"rtsp_port", "9000"}}, 554, 8081);
    EXPECT_EQ(d.rtsp_port, 9000);
}

TEST(FactoryDefaults, BothVariantsByteExact) {
    const std::string body =
        "rtsp_port  = 554\r\nonvif_port = 18000\r\nfps        = 10\r\nbitrate    = 2000\r\n"
        "stream     = screenlive\r\nmain_width = 0\r\nsubstream   = 1\r\nsub_stream  = "
        "screensub\r\n"
        "sub_width   = 640\r\nsub_bitrate = 512\r\nstream_on  = 1\r\nstream_auth = 0\r\n"
        "web_admin  = 1\r\nweb_port   = 13030\r\nannounce_ip = \r\nadmin_user = admin\r\n"
        "admin_pass = tolvu\r\ndevice_name = Vistrel\r\ndiscovery  = 1\r\n";
    EXPECT_EQ(
        factory_defaults_text(false),
        "# Vistrel config (2.0.5 for Windows Server defaults: 554 / 18000 / 13030)\r\n" + body);
    EXPECT_EQ(factory_defaults_text(true), "# إعدادات محرّك Vistrel\r\n" + body);
    ConfigMap m = parse_config_text(factory_defaults_text(true));
    EXPECT_EQ(m.at("web_port"), "13030");
    EXPECT_EQ(m.at("announce_ip"), "");
}

TEST(AdminPass, PlainEncodedAndTampered) {
    char tmpl[] = "/tmp/zeb-pass-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    bool tampered = true;
    EXPECT_EQ(decode_admin_pass("secret", dir, &tampered), "secret");
    EXPECT_FALSE(tampered);

    const std::string enc = encode_admin_pass("pässword 1", dir);
    ASSERT_EQ(enc.rfind("enc:", 0), 0u);
    EXPECT_TRUE(is_valid_text(enc, k_admin_pass_max_len, false));
    EXPECT_EQ(decode_admin_pass(enc, dir, &tampered), "pässword 1");
    EXPECT_FALSE(tampered);

    // One altered byte of the blob, bad Base64, or a foreign key: tampered.
    std::string altered = enc;
    altered[10] = altered[10] == 'A' ? 'B' : 'A';
    for (const std::string& bad : {altered, std::string("enc:***"), std::string("enc:")}) {
        std::string p = decode_admin_pass(bad, dir, &tampered);
        EXPECT_TRUE(tampered) << bad;
        ASSERT_FALSE(p.empty());
        EXPECT_LT(static_cast<unsigned char>(p[0]), 0x20);
    }
    // Plain value under the protected-password marker: tampered.
    ASSERT_TRUE(write_pwenc_marker(dir, true));
    decode_admin_pass("secret", dir, &tampered);
    EXPECT_TRUE(tampered);
    EXPECT_EQ(decode_admin_pass(enc, dir, &tampered), "pässword 1");
    EXPECT_FALSE(tampered);
    ASSERT_TRUE(write_pwenc_marker(dir, false));
    EXPECT_EQ(decode_admin_pass("secret", dir, &tampered), "secret");
    std::system(("rm -rf " + dir).c_str());
}
