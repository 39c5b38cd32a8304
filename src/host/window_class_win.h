// Window classes and the program's icon for the Windows desktop interface
// (Windows source lists only).
#pragma once

#include <windows.h>

// The program's icon (icon resource 1) at the system's large or small icon
// size; the stock application icon when the resource is missing.
HICON program_icon(bool small);

// Registers a window class of this process with the dialog look (arrow
// cursor, button-face background) and the program's icon. A class of that
// name registered before counts as success.
bool register_window_class(const wchar_t* name, WNDPROC proc);
