// JPEG encoding of captured pictures for the ONVIF snapshot and the web
// panel's preview: libjpeg-turbo on Linux, the GDI+ JPEG encoder on Windows.
// Safe from any thread.
#pragma once

#include <string>

// Top-down BGRX picture (stride width * 4) to baseline JPEG with 4:2:0
// chroma at the given quality (1..100); empty on failure.
std::string encode_jpeg_bgrx(const unsigned char* bgrx, int width, int height, int quality);
