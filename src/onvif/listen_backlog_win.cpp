#include <winsock2.h>

#include "onvif/listen_backlog.h"

bool widen_listen_backlog(socket_t listener, int backlog) {
    // Winsock accepts listen() on a listening socket but keeps the backlog of
    // the first call; the queue length is the one the bind gave (SOMAXCONN).
    return ::listen(static_cast<SOCKET>(listener), backlog) == 0;
}
