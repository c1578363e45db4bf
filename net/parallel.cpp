#include "net/parallel.h"

namespace velmor::net {

QThreadPool &partsPool()
{
    // Made once and never destroyed, its threads never ending: a pool
    // destroyed among the program's exit handlers let its threads finish
    // ending (the system's per-thread clean-up of OpenSSL, GLib and Qt)
    // while the handlers after it tore those libraries down, and the heap
    // was corrupted at exit now and then. Parked threads end with the
    // process and run no clean-up, as the send journal's thread does.
    static QThreadPool *const pool = [] {
        auto *p = new QThreadPool;
        p->setExpiryTimeout(-1);
        return p;
    }();
    return *pool;
}

} // namespace velmor::net
