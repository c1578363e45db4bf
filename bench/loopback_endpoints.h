// Benchmarks talk to 127.0.0.1 only. A controller left with the built-in
// endpoints would look up the real group centre (a DNS query leaves the
// machine even when nothing answers): every bench that makes one names a
// loopback centre first, a port nothing listens on unless it runs a fake.
#pragma once

#include "net/supergroup_center.h"

#include <QString>

namespace velmor::bench {

// A loopback address where no service listens: refused at once.
inline QString deadLoopbackUrl()
{
    return QStringLiteral("http://127.0.0.1:9");
}

inline void useLoopbackGroupCentre(const QString &url = deadLoopbackUrl())
{
    velmor::sg::SuperGroupCenter::setBaseUrl(url);
}

} // namespace velmor::bench
