#include "groups/canonical_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace velmor::chat {

namespace {

// True when every surrogate of `text` is part of a pair. A lone surrogate (a
// JSON text may spell one as "\ud800") has no UTF-8 form: toUtf8() would
// write U+FFFD for it, so distinct values, or two distinct member names,
// would share one "canonical" text.
bool isWellFormedUtf16(const QString &text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= n || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

bool appendString(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    if (!isWellFormedUtf16(text))
        return false;
    out.append('"');
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (byte < 0x20) {
                out.append("\\u00");
                out.append(hex[byte >> 4]);
                out.append(hex[byte & 0x0f]);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
    return true;
}

bool appendValue(QByteArray &out, const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        out.append("null");
        return true;
    case QJsonValue::Bool:
        out.append(value.toBool() ? "true" : "false");
        return true;
    case QJsonValue::Double: {
        const double number = value.toDouble();
        // Fractions, exponents beyond exact integers, NaN and infinities have
        // no single text that every implementation agrees on.
        if (!std::isfinite(number) || std::trunc(number) != number
            || std::fabs(number) > double(kCanonicalMaxInteger))
            return false;
        out.append(QByteArray::number(qint64(number)));
        return true;
    }
    case QJsonValue::String:
        return appendString(out, value.toString());
    case QJsonValue::Array: {
        out.append('[');
        const QJsonArray array = value.toArray();
        bool first = true;
        for (const QJsonValue &item : array) {
            if (!first)
                out.append(',');
            first = false;
            if (!appendValue(out, item))
                return false;
        }
        out.append(']');
        return true;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        std::vector<std::pair<QByteArray, QString>> keys;
        keys.reserve(size_t(object.size()));
        for (auto it = object.begin(); it != object.end(); ++it)
            keys.emplace_back(it.key().toUtf8(), it.key());
        // Byte order of UTF-8 equals code point order; QString's own order
        // (UTF-16 units) differs for characters beyond the BMP.
        std::sort(keys.begin(), keys.end(),
                  [](const auto &a, const auto &b) { return a.first < b.first; });
        out.append('{');
        bool first = true;
        for (const auto &key : keys) {
            if (!first)
                out.append(',');
            first = false;
            if (!appendString(out, key.second))
                return false;
            out.append(':');
            if (!appendValue(out, object.value(key.second)))
                return false;
        }
        out.append('}');
        return true;
    }
    case QJsonValue::Undefined:
        return false;
    }
    return false;
}

} // namespace

QByteArray canonicalJson(const QJsonValue &value)
{
    QByteArray out;
    if (!appendValue(out, value))
        return QByteArray();
    return out;
}

QByteArray canonicalJson(const QJsonObject &object)
{
    return canonicalJson(QJsonValue(object));
}

QByteArray canonicalizeJsonText(const QByteArray &text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return QByteArray();
    if (document.isObject())
        return canonicalJson(QJsonValue(document.object()));
    if (document.isArray())
        return canonicalJson(QJsonValue(document.array()));
    return QByteArray();
}

QJsonObject parseJsonObject(const QByteArray &text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QJsonObject();
    return document.object();
}

bool isCanonicalJson(const QByteArray &text)
{
    const QByteArray canonical = canonicalizeJsonText(text);
    return !canonical.isEmpty() && canonical == text;
}

} // namespace velmor::chat
