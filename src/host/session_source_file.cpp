// Session list from a text file (test builds); see session_sources.h.
#include <sstream>

#include "engine/paths.h"
#include "host/session_sources.h"

SessionSnapshot parse_session_file(const std::string& text) {
    SessionSnapshot snap;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "console") {
            words >> snap.console;
            continue;
        }
        if (kind != "session") continue;
        SessionInfo s;
        std::string w;
        while (words >> w) {
            const size_t eq = w.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = w.substr(0, eq), value = w.substr(eq + 1);
            if (key == "id")
                s.id = value;
            else if (key == "active")
                s.active = value == "1";
            else if (key == "class")
                s.session_class = value;
            else if (key == "type")
                s.type = value;
            else if (key == "uid")
                s.uid = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
            else if (key == "display")
                s.display = value;
            else if (key == "xauthority")
                s.xauthority = value;
            else if (key == "runtime")
                s.runtime_dir = value;
        }
        if (!s.id.empty()) snap.sessions.push_back(s);
    }
    return snap;
}

namespace {

class FileSessionSource : public SessionSource {
  public:
    explicit FileSessionSource(std::string path) : path_(std::move(path)) {}
    SessionSnapshot read() override {
        auto text = read_file(path_, 1 << 16);
        return text ? parse_session_file(*text) : SessionSnapshot{};
    }

  private:
    std::string path_;
};

}  // namespace

std::unique_ptr<SessionSource> make_file_session_source(const std::string& path) {
    return std::make_unique<FileSessionSource>(path);
}
