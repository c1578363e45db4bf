// Reads the text of a QR code out of an image file, for discovery by a
// picked picture. Blocking; meant for a pool thread.
#pragma once

#include <QImage>
#include <QString>

namespace velmor::chat {

// The failure words, as discovery reports them.
inline constexpr char kQrImageUnreadable[] = "qr_image_unreadable";
inline constexpr char kQrDecoderUnavailable[] = "qr_decoder_unavailable";
inline constexpr char kQrImageTooLarge[] = "qr_image_too_large";
inline constexpr char kQrCodeNotFound[] = "qr_code_not_found";

// Pictures larger than this (in pixels) are refused before they are decoded:
// a photo of a code needs far less, and a huge one would hold a pool thread
// and hundreds of megabytes for nothing.
constexpr qint64 kMaxQrImagePixels = 40LL * 1000 * 1000;

// The first code's text (UTF-8, trimmed) that is not blank; empty with one of
// the words above in *error otherwise. A code that only reads mirrored (a
// picture taken through a front camera, or flipped by an editor) is read from
// the mirrored picture when the picture as it is yields nothing.
QString decodeQrImage(const QString &path, QString *error);
QString decodeQrImage(const QImage &image, QString *error);

} // namespace velmor::chat
