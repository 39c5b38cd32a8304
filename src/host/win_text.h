// UTF-8 <-> UTF-16 at the edge of the Windows interfaces (host files only).
#pragma once

#include <string>

std::wstring host_wide(const std::string& s);
std::string host_utf8(const std::wstring& w);
