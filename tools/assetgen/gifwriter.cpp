#include "gifwriter.h"

#include <QHash>
#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

class BitPacker
{
public:
    void put(int code, int width)
    {
        m_acc |= quint32(code) << m_bits;
        m_bits += width;
        while (m_bits >= 8) {
            m_out.append(char(m_acc & 0xff));
            m_acc >>= 8;
            m_bits -= 8;
        }
    }
    QByteArray finish()
    {
        if (m_bits > 0)
            m_out.append(char(m_acc & 0xff));
        m_acc = 0;
        m_bits = 0;
        return m_out;
    }

private:
    QByteArray m_out;
    quint32 m_acc = 0;
    int m_bits = 0;
};

QByteArray lzw(const std::vector<quint8> &pixels, int minCodeSize)
{
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    int next = endCode + 1;
    int width = minCodeSize + 1;
    std::unordered_map<quint32, int> dict;
    BitPacker bits;
    bits.put(clearCode, width);
    if (pixels.empty()) {
        bits.put(endCode, width);
        return bits.finish();
    }
    int prefix = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        const int k = pixels[i];
        const quint32 key = (quint32(prefix) << 8) | quint32(k);
        auto it = dict.find(key);
        if (it != dict.end()) {
            prefix = it->second;
            continue;
        }
        bits.put(prefix, width);
        // Reset a little before the 4096-entry limit so the decoder never
        // has to guess whether a 13th bit was meant.
        if (next < 4094) {
            dict.emplace(key, next++);
            if (next > (1 << width) && width < 12)
                ++width;
        } else {
            bits.put(clearCode, width);
            dict.clear();
            next = endCode + 1;
            width = minCodeSize + 1;
        }
        prefix = k;
    }
    bits.put(prefix, width);
    bits.put(endCode, width);
    return bits.finish();
}

void putU16(QByteArray &out, int v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

int dist2(QRgb a, QRgb b)
{
    const int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return dr * dr * 3 + dg * dg * 4 + db * db * 2;
}

} // namespace

QByteArray GifWriter::encode(const QList<QImage> &frames, int delayCentiseconds, QRgb matte)
{
    if (frames.isEmpty())
        return {};
    const int w = frames.first().width();
    const int h = frames.first().height();

    // Flatten every frame to opaque colours or "transparent".
    std::vector<std::vector<qint64>> flat; // -1 = transparent, else rgb
    QHash<QRgb, int> counts;
    for (const QImage &src : frames) {
        const QImage img = src.convertToFormat(QImage::Format_ARGB32);
        std::vector<qint64> px(size_t(w) * h);
        for (int y = 0; y < h; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                const QRgb c = line[x];
                const int a = qAlpha(c);
                if (a < 110) {
                    px[size_t(y) * w + x] = -1;
                    continue;
                }
                const auto mix = [a](int fg, int bg) { return (fg * a + bg * (255 - a)) / 255; };
                const QRgb o = qRgb(mix(qRed(c), qRed(matte)), mix(qGreen(c), qGreen(matte)),
                                    mix(qBlue(c), qBlue(matte)));
                px[size_t(y) * w + x] = qint64(o & 0xffffff);
                counts[o & 0xffffff] += 1;
            }
        }
        flat.push_back(std::move(px));
    }

    // Popularity palette: flat-coloured art has few colours, so the 255 most
    // frequent ones cover it; the rest map to their nearest entry.
    std::vector<std::pair<int, QRgb>> byCount;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byCount.push_back({ it.value(), it.key() });
    std::sort(byCount.begin(), byCount.end(), [](auto &a, auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<QRgb> palette; // index 0 is transparent
    palette.push_back(matte & 0xffffff);
    for (size_t i = 0; i < byCount.size() && palette.size() < 256; ++i)
        palette.push_back(byCount[i].second);
    while (palette.size() < 256)
        palette.push_back(0);
    QHash<QRgb, quint8> lookup;
    auto indexOf = [&](QRgb c) -> quint8 {
        auto it = lookup.constFind(c);
        if (it != lookup.constEnd())
            return it.value();
        int best = 1;
        int bestD = INT_MAX;
        for (size_t i = 1; i < palette.size(); ++i) {
            const int d = dist2(c, palette[i]);
            if (d < bestD) {
                bestD = d;
                best = int(i);
            }
        }
        lookup.insert(c, quint8(best));
        return quint8(best);
    };

    QByteArray out("GIF89a");
    putU16(out, w);
    putU16(out, h);
    out.append(char(0xf7)); // global table, 8 bits, 256 entries
    out.append(char(0));
    out.append(char(0));
    for (QRgb c : palette) {
        out.append(char(qRed(c)));
        out.append(char(qGreen(c)));
        out.append(char(qBlue(c)));
    }
    // Loop for ever.
    out.append("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);

    for (const auto &px : flat) {
        out.append("\x21\xf9\x04", 3);
        out.append(char((2 << 2) | 1)); // restore to background, transparent index
        putU16(out, delayCentiseconds);
        out.append(char(0));
        out.append(char(0));
        out.append(char(0x2c));
        putU16(out, 0);
        putU16(out, 0);
        putU16(out, w);
        putU16(out, h);
        out.append(char(0));
        std::vector<quint8> idx(px.size());
        for (size_t i = 0; i < px.size(); ++i)
            idx[i] = px[i] < 0 ? 0 : indexOf(QRgb(px[i]));
        out.append(char(8));
        const QByteArray data = lzw(idx, 8);
        for (qsizetype pos = 0; pos < data.size(); pos += 255) {
            const qsizetype n = std::min<qsizetype>(255, data.size() - pos);
            out.append(char(n));
            out.append(data.constData() + pos, n);
        }
        out.append(char(0));
    }
    out.append(char(0x3b));
    return out;
}
