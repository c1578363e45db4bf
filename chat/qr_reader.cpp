#include "chat/qr_reader.h"

#include <QByteArray>
#include <QImageReader>

#include <zbar.h>

namespace velmor::chat {

namespace {

// Every QR text that ZBar finds, in its order. Binary mode: without it ZBar
// guesses a text encoding and re-encodes the payload, which garbles any
// byte that is not plain ASCII.
QString scanOnce(const QImage &grey)
{
    QByteArray y800;
    y800.reserve(qsizetype(grey.width()) * grey.height());
    // Scan lines are 4-byte aligned; ZBar wants rows of exactly width bytes.
    for (int y = 0; y < grey.height(); ++y)
        y800.append(reinterpret_cast<const char *>(grey.constScanLine(y)), grey.width());

    zbar::ImageScanner scanner;
    scanner.set_config(zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_BINARY, 1);
    zbar::Image image(unsigned(grey.width()), unsigned(grey.height()), "Y800", y800.constData(),
                      static_cast<unsigned long>(y800.size()));
    QString text;
    if (scanner.scan(image) > 0) {
        for (auto it = image.symbol_begin(); it != image.symbol_end() && text.isEmpty(); ++it) {
            if (it->get_type() != zbar::ZBAR_QRCODE)
                continue;
            const std::string data = it->get_data();
            text = QString::fromUtf8(data.data(), qsizetype(data.size())).trimmed();
        }
    }
    // The buffer belongs to y800; ZBar must not free it.
    image.set_data(nullptr, 0);
    return text;
}

} // namespace

QString decodeQrImage(const QImage &source, QString *error)
{
    if (source.isNull()) {
        *error = QString::fromLatin1(kQrImageUnreadable);
        return {};
    }
    if (qint64(source.width()) * source.height() > kMaxQrImagePixels) {
        *error = QString::fromLatin1(kQrImageTooLarge);
        return {};
    }
    const QImage grey = source.convertToFormat(QImage::Format_Grayscale8);
    if (grey.isNull()) {
        *error = QString::fromLatin1(kQrDecoderUnavailable);
        return {};
    }
    QString text = scanOnce(grey);
    if (text.isEmpty())
        text = scanOnce(grey.mirrored(true, false));
    if (text.isEmpty())
        *error = QString::fromLatin1(kQrCodeNotFound);
    return text;
}

QString decodeQrImage(const QString &path, QString *error)
{
    QImageReader reader(path);
    // The size is known from the header: a huge picture is refused before
    // it is decoded into memory.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxQrImagePixels) {
        *error = QString::fromLatin1(kQrImageTooLarge);
        return {};
    }
    return decodeQrImage(reader.read(), error);
}

} // namespace velmor::chat
