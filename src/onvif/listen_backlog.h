// Widening the accept queue of a listening socket that start-up already bound:
// a flood of short connections from one address must not overflow the queue
// and leave everyone else's connection attempts waiting for a SYN retry.
#pragma once

#include "engine/net_socket.h"

constexpr int k_onvif_listen_backlog = 128;

// Sets the listen backlog of a listening socket; false when the system refuses.
bool widen_listen_backlog(socket_t listener, int backlog);
