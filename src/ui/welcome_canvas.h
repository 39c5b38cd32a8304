// The welcome picture drawn through the painter (video/painter.h), for the
// desktop interface of the Windows build.
#pragma once

#include <memory>

#include "ui/desktop.h"
#include "video/painter.h"

// The welcome picture, 720 px wide, opaque (bgrx); null when it cannot be made.
std::unique_ptr<Canvas> render_welcome_canvas(const WelcomeValues& v, bool arabic);
