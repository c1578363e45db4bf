// Resident memory of this process, and its peak since a chosen moment, as
// the kernel counts them: what a request or a parse cost at most.
#pragma once

#include <QByteArray>
#include <QFile>

namespace velmor::fakes {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 when unknown.
inline qint64 statusBytes(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// Starts a new peak: the kernel sets the high-water mark back to the
// resident size now. False where the kernel cannot.
inline bool resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace velmor::fakes
