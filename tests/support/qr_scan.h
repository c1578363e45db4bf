// Reads QR codes back out of an image with ZBar, for tests that check what
// the program draws. Header-only: tests that include it link ZBar.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

#include <zbar.h>

namespace velmor::fakes {

// All QR payloads that ZBar finds in the image, read as raw bytes.
inline QList<QByteArray> scanQrCodes(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_Grayscale8);
    QByteArray y800;
    y800.reserve(image.width() * image.height());
    // Scan lines are 4-byte aligned: copy them one by one.
    for (int y = 0; y < image.height(); ++y)
        y800.append(reinterpret_cast<const char *>(image.constScanLine(y)), image.width());
    zbar::ImageScanner scanner;
    scanner.set_config(zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
    // Without binary mode ZBar re-encodes raw payloads and garbles them.
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_BINARY, 1);
    zbar::Image zimage(unsigned(image.width()), unsigned(image.height()), "Y800", y800.constData(),
                       static_cast<unsigned long>(y800.size()));
    QList<QByteArray> out;
    if (scanner.scan(zimage) > 0)
        for (zbar::Image::SymbolIterator it = zimage.symbol_begin(); it != zimage.symbol_end(); ++it)
            if (it->get_type() == zbar::ZBAR_QRCODE) {
                const std::string data = it->get_data();
                out.append(QByteArray(data.data(), qsizetype(data.size())));
            }
    zimage.set_data(nullptr, 0);
    return out;
}

} // namespace velmor::fakes
