// The product logo (resources/logo.png), built into the program.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t k_logo_png[];
extern const size_t k_logo_png_size;
