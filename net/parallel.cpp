#include "net/parallel.h"

namespace velmor::net {

QThreadPool &partsPool()
{
    static QThreadPool pool;
    return pool;
}

} // namespace velmor::net
