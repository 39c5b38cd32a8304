// Starts a new engine process that replaces this one: the executable with
// "--relaunch" (and "--background" when asked). The new process waits for the
// single-instance lock until this one has ended. Listening sockets and the
// lock are close-on-exec, so the new process can bind and lock them.
#pragma once

#include <string>

// working_dir: the new process's working directory (empty: this one's).
bool relaunch_engine(bool background, const std::string& working_dir = "");

// Last resort when no new process can be started: this process becomes the
// new engine in place (exec of the same executable with the same options).
// Returns only on failure.
void relaunch_in_place(bool background);

// True when this process's command line holds the word (e.g. "--logon-screen").
bool process_started_with(const std::string& word);
