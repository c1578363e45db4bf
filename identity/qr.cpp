#include "identity/qr.h"

#include <qrcodegen.hpp>

#include <exception>

namespace velmor::identity {

QrCode makeQrCode(const QByteArray &bytes)
{
    QrCode out;
    // Version 40 at level M holds at most 2331 bytes in byte mode.
    if (bytes.size() > 2331)
        return out;
    try {
        const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
        const std::vector<qrcodegen::QrSegment> segments{qrcodegen::QrSegment::makeBytes(data)};
        // Smallest version that fits, MEDIUM kept as is (no error-correction boost), automatic mask.
        const qrcodegen::QrCode qr = qrcodegen::QrCode::encodeSegments(
            segments, qrcodegen::QrCode::Ecc::MEDIUM, qrcodegen::QrCode::MIN_VERSION,
            qrcodegen::QrCode::MAX_VERSION, -1, false);
        const int size = qr.getSize();
        out.modules.resize(size_t(size) * size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                out.modules[size_t(y) * size + x] = qr.getModule(x, y);
        out.size = size;
    } catch (const std::exception &) {
        return QrCode();
    }
    return out;
}

} // namespace velmor::identity
