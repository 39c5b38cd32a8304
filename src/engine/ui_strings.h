// The interface texts of the desktop panel, tray, login, welcome window and
// agreement, in Arabic and English, in one table that the web panel can share.
// Latin fragments inside the Arabic texts (RTSP, ONVIF, fps, ports, ...) are
// wrapped in left-to-right marks so they read correctly inside right-to-left text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct UiString {
    std::string_view id;
    std::string_view ar;
    std::string_view en;
};

// Every interface text, in table order.
const std::vector<UiString>& ui_strings();
// The text of id in the language ("ar" or anything else for English); the id
// itself when the table has no such entry, so a missing text shows up plainly.
std::string ui_text(std::string_view id, bool arabic);

// Problems of a table: an empty text in either language, a duplicate id, or a
// Latin fragment inside an Arabic text that is not wrapped in left-to-right
// marks. One line per problem; empty when the table passes.
std::vector<std::string> check_ui_strings(const std::vector<UiString>& table);
// True when every Latin fragment (a run of ASCII letters, digits and . : / _ -
// that holds a letter) sits between two left-to-right marks.
bool latin_fragments_marked(std::string_view arabic);
