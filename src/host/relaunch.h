// Starts a new engine process that replaces this one: the executable with
// "--relaunch" (and "--background" when asked). The new process waits for the
// single-instance lock until this one has ended. Listening sockets and the
// lock are close-on-exec, so the new process can bind and lock them.
#pragma once

bool relaunch_engine(bool background);
