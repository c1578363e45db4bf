// A PNG read straight to a smaller size, a row at a time: Qt's own reader
// makes a full-size 64-bit picture of a 16-bit PNG first, which for a
// camera-sized one passes its allocation limit and is refused.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace velmor::chat {

// The PNG at `path` averaged down to `target` (8 bits a channel, ARGB32);
// a null image when the file is not a whole, non-interlaced PNG.
QImage readPngReduced(const QString &path, QSize target);

} // namespace velmor::chat
