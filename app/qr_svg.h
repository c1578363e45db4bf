// A text as a QR code drawn in SVG: one 1×1 square per dark module on a white
// square with a quiet zone of 4 modules, ready for an image's data URL.
#pragma once

#include <QString>

namespace velmor::app {

// Empty when the text's UTF-8 bytes do not fit any QR version.
QString qrSvg(const QString &text);

} // namespace velmor::app
