// QR Code Model 2 encoder after ISO/IEC 18004: byte mode, error-correction
// level M, versions 1 to 10, all eight masks scored. Pure functions; the
// Reed-Solomon tables are built once on first use (thread-safe).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct QrMatrix {
    int version = 0;
    int size = 0;  // 17 + 4 * version
    int mask = 0;
    std::vector<uint8_t> dark;  // size * size, row-major, 1 = dark
    bool at(int row, int col) const { return dark[static_cast<size_t>(row) * size + col] != 0; }
};

// Nothing when the text does not fit version 10 at level M.
std::optional<QrMatrix> qr_encode(const std::string& text);
// Smallest version (1..10) whose level-M capacity holds the text; 0 when none.
int qr_version_for(size_t byte_count);
// Penalty score of a finished matrix (the mask choice minimises it).
int qr_penalty(const QrMatrix& m);
// The SVG with a 4-module quiet zone (viewBox 0 0 n+8 n+8).
std::string qr_svg(const QrMatrix& m);
