// What the window bench's child modes share (idle_window_bench.cpp and the
// cases split out of it): the rest a window gets before a measurement, and
// the one report line a child prints for its parent.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QTextStream>

namespace velmor::bench::idle {

constexpr int kSettleMs = 3000;

// The child's figures as "name value" pairs; the child then ends.
inline void report(const QString &line)
{
    QTextStream(stdout) << "report: " << line << Qt::endl;
    QCoreApplication::exit(0);
}

} // namespace velmor::bench::idle
