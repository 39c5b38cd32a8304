#include <sys/socket.h>

#include "onvif/listen_backlog.h"

bool widen_listen_backlog(socket_t listener, int backlog) {
    // listen() on a listening socket only changes its backlog (Linux, BSD).
    return ::listen(static_cast<int>(listener), backlog) == 0;
}
