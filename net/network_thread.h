// The one thread that talks to the services. It owns the program's
// kept-alive connections (http_connection_pool.h), so every request to a
// service shares them (a few per host at most) whichever thread asked: a
// send and a group-server call reuse the connection the one before them
// opened instead of paying for a new TCP and TLS handshake each.
#pragma once

#include <functional>

namespace velmor::net {

class HttpConnectionPool;

struct NetworkManagers
{
    // For every request: sends, pulls, logins, reads and group-server calls
    // alike reuse its kept-alive connections.
    HttpConnectionPool *connections = nullptr;
    // For the pictures the views load (avatars of group servers).
    HttpConnectionPool *pictures = nullptr;
};

// Runs `work` on the network thread with its managers, started at the
// first call; with null when the thread ends before reaching it (the work
// must then end at once). False, with `work` never run, once the thread has
// been stopped.
bool postToNetworkThread(std::function<void(const NetworkManagers *)> work);

// Runs `atStop` on the network thread once its loop has ended and before
// the managers go (the requests still open must end there). Set by the
// request runner before its first request.
void setNetworkThreadStopHook(std::function<void()> atStop);

// Ends the thread: no more work is taken, what is in flight ends through the
// stop hook, and the managers and their connections are closed on the thread.
// Waits at most `waitMs` for it. Also done when the application object goes.
void stopNetworkThread(int waitMs = 1000);

} // namespace velmor::net
