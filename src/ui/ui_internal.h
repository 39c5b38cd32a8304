// Pieces shared by the files of the desktop interface.
#pragma once

#include <cairo.h>

#include "ui/desktop.h"

// The welcome picture (720 px wide); the caller destroys it.
cairo_surface_t* render_welcome(const WelcomeValues& v, bool arabic);
