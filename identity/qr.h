// QR-code encoding of bytes (byte mode, error correction MEDIUM, smallest version).
#pragma once

#include <QByteArray>
#include <vector>

namespace velmor::identity {

struct QrCode
{
    int size = 0; // modules per side; 0 when the bytes did not fit
    std::vector<bool> modules;
    bool isDark(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < size && y < size && modules[size_t(y) * size + x];
    }
};

QrCode makeQrCode(const QByteArray &bytes);

} // namespace velmor::identity

// Named without a namespace by its callers, like Ecies and CredentialVault.
using velmor::identity::makeQrCode;
