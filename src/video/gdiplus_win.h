// GDI+ plumbing shared by the Windows painter and JPEG encoder: one
// GdiplusStartup for the whole process (never shut down; threads draw until
// the process ends) and saving an image through an encoder into bytes.
#pragma once

// Order matters: windows.h first, then the COM streams that gdiplus.h needs.
// clang-format off
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <string>

// True once GDI+ runs in this process; safe from any thread.
bool gdiplus_ready();
// The class id of the built-in encoder for a MIME type such as L"image/png".
bool gdiplus_encoder(const wchar_t* mime, CLSID& out);
// The image as encoded by that encoder; empty on failure.
std::string gdiplus_save(Gdiplus::Image& image, const CLSID& encoder,
                         const Gdiplus::EncoderParameters* params);
// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::wstring gdiplus_wide(const std::string& utf8);
