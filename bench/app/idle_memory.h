// The window bench's memory case: resident memory once the window has
// rested with its rows shown (the signed-in window's sidebar of 2,000
// conversations, or the bare window's list of as many rows).
#pragma once

#include <QString>

#include <functional>

class QQuickWindow;

namespace velmor::bench::idle {

// Polls `rowsShown` until it holds, lets the window rest, then reports
// "rss <MB>". PELORIN_BENCH_MEMORY_DUMP=<folder> writes the child's
// mappings and heap state beside it as <tag>.smaps and <tag>.malloc.xml;
// PELORIN_BENCH_END_AT_MEASURE=1 ends the child there, freeing nothing.
void measureMemory(QQuickWindow *window, const QString &tag, const std::function<bool()> &rowsShown);

} // namespace velmor::bench::idle
