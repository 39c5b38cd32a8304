// The service's hands on camera processes: finds the running cameras (same
// executable name, same data directory) and the session each belongs to,
// ends them, and starts new ones as a session's user or on the sign-in screen.
#pragma once

#include <memory>

#include "host/session_watch.h"

// session_from_environment: take a camera's session from the XDG_SESSION_ID
// the launcher gave it even where logind knows another one (test sessions).
std::unique_ptr<CameraLauncher> make_process_launcher(bool session_from_environment);
