// Database files made page by page in SQLite's layout, with the faults a
// damaged or hostile file can carry: overflow chains that loop, values
// longer than the file, cells that share bytes or chains. For the page
// reader's tests and benchmark.
#pragma once

#include <QByteArray>
#include <QList>
#include <QVariant>
#include <QtEndian>

#include <cstring>

namespace storetest {

// SQLite's variable-length integer.
inline QByteArray varint(quint64 v)
{
    QByteArray out;
    if (v > 0x00ffffffffffffffULL) {
        out.resize(9);
        out[8] = char(v & 0xff);
        v >>= 8;
        for (int i = 7; i >= 0; --i, v >>= 7)
            out[i] = char((v & 0x7f) | 0x80);
        return out;
    }
    do {
        out.prepend(char((v & 0x7f) | (out.isEmpty() ? 0 : 0x80)));
        v >>= 7;
    } while (v);
    return out;
}

// A record of texts (and whole numbers).
inline QByteArray record(const QList<QVariant> &values)
{
    QByteArray types;
    QByteArray body;
    for (const QVariant &v : values) {
        if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong) {
            types += varint(6);
            QByteArray n(8, '\0');
            qToBigEndian(v.toLongLong(), n.data());
            body += n;
        } else {
            const QByteArray text = v.toString().toUtf8();
            types += varint(2 * quint64(text.size()) + 13);
            body += text;
        }
    }
    return varint(quint64(types.size()) + 1) + types + body;
}

// How much of a payload stays on a table leaf page, as SQLite decides it.
inline qint64 localPart(qint64 payload, int usable)
{
    const qint64 maxLocal = usable - 35;
    const qint64 minLocal = (qint64(usable) - 12) * 32 / 255 - 23;
    if (payload <= maxLocal)
        return payload;
    const qint64 k = minLocal + (payload - minLocal) % (usable - 4);
    return k <= maxLocal ? k : minLocal;
}

class PageImage
{
public:
    PageImage(int pageSize, int pages) : m_size(pageSize), m_bytes(qsizetype(pageSize) * pages, '\0')
    {
        char *h = m_bytes.data();
        memcpy(h, "SQLite format 3\0", 16);
        qToBigEndian(quint16(pageSize == 65536 ? 1 : pageSize), h + 16);
        h[18] = h[19] = 1;
        h[21] = 64;
        h[22] = h[23] = 32;
        qToBigEndian(quint32(1), h + 24);
        qToBigEndian(quint32(pages), h + 28);
        qToBigEndian(quint32(1), h + 40);
        qToBigEndian(quint32(4), h + 44);
        qToBigEndian(quint32(1), h + 56);
        qToBigEndian(quint32(1), h + 92);
        qToBigEndian(quint32(3040001), h + 96);
    }

    int pageSize() const { return m_size; }
    const QByteArray &bytes() const { return m_bytes; }

    // A table leaf cell: the payload's size as it claims it, and the part
    // that stays on the page, then the first overflow page when it has one.
    static QByteArray cell(quint64 claimedSize, qint64 rowid, const QByteArray &local, quint32 firstOverflow = 0)
    {
        QByteArray out = varint(claimedSize) + varint(quint64(rowid)) + local;
        if (firstOverflow) {
            QByteArray link(4, '\0');
            qToBigEndian(firstOverflow, link.data());
            out += link;
        }
        return out;
    }

    // A cell whose value (one text) claims `claimedSize` bytes of payload
    // and runs on to `firstOverflow`.
    QByteArray longCell(quint64 claimedSize, qint64 rowid, quint32 firstOverflow, char fill = 'a') const
    {
        // The text is the payload less the record's header, whose length
        // depends on the text's.
        QByteArray types = varint(2 * claimedSize + 13);
        types = varint(2 * (claimedSize - quint64(types.size()) - 1) + 13);
        QByteArray local = varint(quint64(types.size()) + 1) + types;
        local += QByteArray(localPart(qint64(claimedSize), m_size) - local.size(), fill);
        return cell(claimedSize, rowid, local, firstOverflow);
    }

    // One table row without overflow.
    static QByteArray rowCell(qint64 rowid, const QList<QVariant> &values)
    {
        const QByteArray payload = record(values);
        return cell(quint64(payload.size()), rowid, payload);
    }

    // Page `number` (from 1) as a table leaf holding `cells`, laid from the
    // page's end; `repeat` pointers to each cell (more than one: cells that
    // share their bytes).
    void leaf(int number, const QList<QByteArray> &cells, int repeat = 1)
    {
        char *page = pageAt(number);
        const int h = number == 1 ? 100 : 0;
        qsizetype end = m_size;
        QList<quint16> pointers;
        for (const QByteArray &c : cells) {
            end -= c.size();
            memcpy(page + end, c.constData(), size_t(c.size()));
            for (int i = 0; i < repeat; ++i)
                pointers << quint16(end);
        }
        page[h] = 0x0D;
        qToBigEndian(quint16(pointers.size()), page + h + 3);
        qToBigEndian(quint16(end % 65536), page + h + 5);
        for (int i = 0; i < pointers.size(); ++i)
            qToBigEndian(pointers[i], page + h + 8 + 2 * i);
    }

    // The schema on page 1: one table `name` (one text column) rooted at
    // `root`.
    void schema(const QString &name, int root)
    {
        leaf(1, {rowCell(1, {QStringLiteral("table"), name, name, root,
                             QStringLiteral("CREATE TABLE %1(x TEXT)").arg(name)})});
    }

    // Page `number` as an overflow page linking to `next`, full of `fill`.
    void overflow(int number, quint32 next, char fill = 'b')
    {
        char *page = pageAt(number);
        memset(page + 4, fill, size_t(m_size - 4));
        qToBigEndian(next, page);
    }

private:
    char *pageAt(int number) { return m_bytes.data() + qsizetype(number - 1) * m_size; }

    int m_size;
    QByteArray m_bytes;
};

// A table whose one long row claims `claimedSize` bytes, its overflow pages
// from page 3 on linking to `links` in turn, and a sound row beside it
// ("kept"). The damaged file of the report: three pages, the overflow page
// linking to itself.
inline QByteArray longRowFile(int pageSize, int pages, quint64 claimedSize, const QList<quint32> &links)
{
    PageImage image(pageSize, pages);
    image.schema(QStringLiteral("t"), 2);
    image.leaf(2, {image.longCell(claimedSize, 1, 3), PageImage::rowCell(2, {QStringLiteral("kept")})});
    for (int i = 0; i < links.size(); ++i)
        image.overflow(3 + i, links.at(i));
    return image.bytes();
}
inline QByteArray selfLoopingFile(int pageSize, quint64 claimedSize)
{
    return longRowFile(pageSize, 3, claimedSize, {3});
}

} // namespace storetest
