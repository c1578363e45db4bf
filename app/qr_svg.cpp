#include "app/qr_svg.h"

#include "identity/qr.h"

namespace velmor::app {

QString qrSvg(const QString &text)
{
    const velmor::identity::QrCode code = makeQrCode(text.toUtf8());
    if (code.size == 0)
        return {};
    constexpr int kQuietZone = 4;
    const int side = code.size + 2 * kQuietZone;
    QString modules;
    modules.reserve(code.size * code.size * 24);
    for (int y = 0; y < code.size; ++y)
        for (int x = 0; x < code.size; ++x)
            if (code.isDark(x, y))
                modules += QStringLiteral("<rect x='%1' y='%2' width='1' height='1'/>")
                               .arg(x + kQuietZone)
                               .arg(y + kQuietZone);
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 %1 %1' "
                          "shape-rendering='crispEdges'><rect width='%1' height='%1' fill='white'/>"
                          "<g fill='black'>")
               .arg(side)
        + modules + QStringLiteral("</g></svg>");
}

} // namespace velmor::app
