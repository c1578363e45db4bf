#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRgb>

// Writes looping animated GIFs with one global palette. Pixels below half
// opacity become the transparent index; partly transparent edges are blended
// over `matte` so they keep their antialiasing on light backgrounds.
class GifWriter
{
public:
    static QByteArray encode(const QList<QImage> &frames, int delayCentiseconds, QRgb matte);
};
