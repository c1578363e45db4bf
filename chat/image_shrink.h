// Recompression of a picture for sending: JPEG of at most 160 KiB, scaled to
// fit 1280 px and then ever smaller (x 3/4 per pass, 6 passes), each size
// tried at qualities 85 down to 25. Pure and thread-safe; the outbox runs it
// on a pool thread.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace velmor::chat {

constexpr qsizetype kMaxSentImageBytes = 163840;
constexpr int kLargestSentSide = 1280;

struct ShrunkImage
{
    QByteArray jpeg;   // empty on failure
    int width = 0;
    int height = 0;
    QString error;     // "invalid_image" or "image_too_large"; empty on success
};

// The file's picture (orientation applied), decoded no larger than
// kLargestSentSide on either side, so a camera-sized photo is never read
// whole; null when it cannot be read.
QImage readForSending(const QString &path);

// The file's picture (orientation applied) recompressed; "invalid_image"
// when it cannot be read.
ShrunkImage shrinkImageFile(const QString &path, qsizetype maxBytes = kMaxSentImageBytes);
ShrunkImage shrinkImage(const QImage &image, qsizetype maxBytes = kMaxSentImageBytes);

} // namespace velmor::chat
