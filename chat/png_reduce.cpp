#include "chat/png_reduce.h"

#include <QFile>

#include <png.h>

#include <csetjmp>
#include <vector>

namespace velmor::chat {

namespace {

void readFromFile(png_structp png, png_bytep out, png_size_t length)
{
    auto *file = static_cast<QFile *>(png_get_io_ptr(png));
    if (file->read(reinterpret_cast<char *>(out), qint64(length)) != qint64(length))
        png_error(png, "short read");
}

// libpng reports errors by longjmp: nothing with a destructor may live
// between the setjmp and the jump, so every buffer is owned by the caller.
struct Buffers
{
    std::vector<png_byte> row;
    std::vector<quint32> sums;   // target pixels x 4 channels
    std::vector<quint32> counts; // target pixels
};

bool reduce(QFile &file, QSize target, Buffers &buffers, QImage &out)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    png_set_read_fn(png, &file, readFromFile);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        png_error(png, "unsupported layout");

    // Whatever the colour type and depth: 8-bit RGBA rows.
    png_set_strip_16(png);
    png_set_packing(png);
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != png_size_t(width) * 4)
        png_error(png, "unexpected row layout");

    const int tw = target.width();
    const int th = target.height();
    buffers.row.resize(size_t(width) * 4);
    buffers.sums.assign(size_t(tw) * th * 4, 0);
    buffers.counts.assign(size_t(tw) * th, 0);
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, buffers.row.data(), nullptr);
        const size_t ty = size_t(y) * th / height;
        const png_byte *pixel = buffers.row.data();
        for (png_uint_32 x = 0; x < width; ++x, pixel += 4) {
            const size_t cell = ty * tw + size_t(x) * tw / width;
            quint32 *sum = &buffers.sums[cell * 4];
            sum[0] += pixel[0];
            sum[1] += pixel[1];
            sum[2] += pixel[2];
            sum[3] += pixel[3];
            ++buffers.counts[cell];
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    out = QImage(target, QImage::Format_ARGB32);
    for (int y = 0; y < th; ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < tw; ++x) {
            const size_t cell = size_t(y) * tw + x;
            const quint32 n = qMax<quint32>(1, buffers.counts[cell]);
            const quint32 *sum = &buffers.sums[cell * 4];
            line[x] = qRgba(int(sum[0] / n), int(sum[1] / n), int(sum[2] / n), int(sum[3] / n));
        }
    }
    return true;
}

} // namespace

QImage readPngReduced(const QString &path, QSize target)
{
    if (target.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Buffers buffers;
    QImage out;
    if (!reduce(file, target, buffers, out))
        return {};
    return out;
}

} // namespace velmor::chat
