// cairo drawing helpers behind the Linux painter (painter_cairo.cpp) and the GTK
// pictures that draw on cairo directly: text through pango
// (HarfBuzz shaping, so Arabic joins and runs right to left) on cairo, with
// "Segoe UI" falling back to "Noto Sans", then "DejaVu Sans"; colours and rounded boxes.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

#include "video/painter.h"  // TextBox

// Measures text in the given pixel size (logical box of the laid-out line).
TextBox measure_text(cairo_t* cr, const std::string& text, double px, bool bold);
// Draws text with the top-left of its logical box at (x, y) in the current source.
void draw_text(cairo_t* cr, const std::string& text, double px, bool bold, double x, double y);
// Draws text centred horizontally in [0, width), its box's top at y.
void draw_text_centred(cairo_t* cr, const std::string& text, double px, bool bold, double width,
                       double y);
// Sets the source colour from 0xRRGGBB.
void set_rgb(cairo_t* cr, uint32_t rgb, double alpha = 1.0);
// Adds a closed rectangle path with corners of radius r (at most half a side).
void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r);
