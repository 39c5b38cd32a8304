// The one-shot modes of the desktop interface: --dump-welcome writes the
// welcome picture in both languages, --selftest-strings checks every text.
#include <cstdio>

#include "engine/paths.h"
#include "engine/ui_strings.h"
#include "ui/desktop.h"

int dump_welcome(const std::string& dir) {
    WelcomeValues sample;
    sample.address = "192.168.1.50";
    make_directories(dir);
    const bool ok = write_welcome_png(sample, true, dir + "/welcome_ar.png") &&
                    write_welcome_png(sample, false, dir + "/welcome_en.png");
    if (!ok)
        std::fprintf(stderr, "--dump-welcome: could not write the pictures into %s\n", dir.c_str());
    return ok ? 0 : 1;
}

int selftest_strings_mode(const std::string* report_file) {
    const std::vector<std::string> problems = check_ui_strings(ui_strings());
    std::string report;
    for (const std::string& p : problems) report += "FAIL " + p + "\n";
    report += problems.empty() ? "strings self-test passed (" : "strings self-test failed (";
    report += std::to_string(ui_strings().size()) + " texts, " + std::to_string(problems.size()) +
              " problems)\n";
    std::fputs(report.c_str(), stdout);
    if (report_file && !write_file_whole(*report_file, report)) return 2;
    return problems.empty() ? 0 : 1;
}
