// Work split over several threads from inside a background job.
#pragma once

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <utility>

namespace velmor::net {

// The pool the parts of a split job run on. Jobs run on Qt's global pool; a
// job that waited there for parts queued on that same pool waits forever
// once every thread of it is such a job (two at once on a two-core machine).
// The parts run here instead, and a part never waits for anything.
QThreadPool &partsPool();

// Calls `work` on each item of `items` on the parts pool and returns once
// every call has returned. Each call must touch only its own item.
template <typename Sequence, typename Work>
void forEachInParallel(Sequence &items, Work &&work)
{
    QtConcurrent::blockingMap(&partsPool(), items, std::forward<Work>(work));
}

} // namespace velmor::net
