#include "net/answer_json.h"

#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QList>

#include <climits>
#include <cstring>

namespace velmor::net {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Walks JSON text by its grammar (RFC 8259) and builds nothing: it only
// says whether a value is well formed, where it ends and how many values
// it holds. The text of what is kept is handed to QJsonDocument after.
class Scanner
{
public:
    explicit Scanner(const QByteArray &text) : m_p(text.constData()), m_end(text.constData() + text.size()) {}

    char peek()
    {
        skipSpace();
        return m_p < m_end ? *m_p : '\0';
    }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++m_p;
        return true;
    }
    bool atEnd() { return peek() == '\0' && m_p == m_end; }

    // One value, whatever it is; *count grows by the values it holds.
    bool value(int depth, qint64 *count)
    {
        ++*count;
        switch (peek()) {
        case '{':
        case '[':
            return container(depth, count);
        case '"':
            return string();
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number();
        }
    }

    // A string; *raw is its text between the quotes, escapes as written.
    bool string(QByteArrayView *raw = nullptr)
    {
        if (peek() != '"')
            return false;
        const char *start = ++m_p;
        while (m_p < m_end) {
            const char c = *m_p;
            if (c == '"') {
                if (raw)
                    *raw = QByteArrayView(start, m_p - start);
                ++m_p;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c == '\\') {
                if (++m_p >= m_end)
                    return false;
                if (*m_p == 'u') {
                    if (m_end - m_p < 5 || !isHexDigit(m_p[1]) || !isHexDigit(m_p[2]) || !isHexDigit(m_p[3])
                        || !isHexDigit(m_p[4]))
                        return false;
                    m_p += 4;
                } else if (*m_p == '\0' || !std::strchr("\"\\/bfnrt", *m_p)) {
                    return false;
                }
            }
            ++m_p;
        }
        return false;
    }

    // The entries of the array that starts here, each handed to `each`
    // with its text and the values it holds.
    template<typename Each>
    bool array(int depth, Each &&each)
    {
        if (depth >= kMaxJsonDepth || !take('['))
            return false;
        if (take(']'))
            return true;
        do {
            skipSpace();
            const char *begin = m_p;
            qint64 values = 0;
            if (!value(depth + 1, &values))
                return false;
            each(QByteArrayView(begin, m_p - begin), values);
        } while (take(','));
        return take(']');
    }

private:
    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool container(int depth, qint64 *count)
    {
        if (depth >= kMaxJsonDepth)
            return false;
        const char close = *m_p == '{' ? '}' : ']';
        ++m_p;
        if (take(close))
            return true;
        do {
            if (close == '}' && (!string() || !take(':')))
                return false;
            if (!value(depth + 1, count))
                return false;
        } while (take(','));
        return take(close);
    }

    bool digits()
    {
        const char *start = m_p;
        while (m_p < m_end && isDigit(*m_p))
            ++m_p;
        return m_p > start;
    }

    bool number()
    {
        if (m_p < m_end && *m_p == '-')
            ++m_p;
        if (m_p >= m_end || !isDigit(*m_p))
            return false;
        if (*m_p == '0')
            ++m_p;
        else
            digits();
        if (m_p < m_end && *m_p == '.') {
            ++m_p;
            if (!digits())
                return false;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (!digits())
                return false;
        }
        return true;
    }

    bool literal(const char *word)
    {
        const qsizetype length = qsizetype(std::strlen(word));
        if (m_end - m_p < length || std::memcmp(m_p, word, size_t(length)) != 0)
            return false;
        m_p += length;
        return true;
    }

    const char *m_p;
    const char *m_end;
};

// A member name as written against the name wanted; escapes are decoded
// only when there are some.
bool sameName(QByteArrayView raw, QLatin1StringView name)
{
    if (!raw.contains('\\'))
        return raw == QByteArrayView(name.data(), name.size());
    const QByteArray quoted = "[\"" + raw.toByteArray() + "\"]";
    return QJsonDocument::fromJson(quoted).array().at(0).toString() == name;
}

} // namespace

QJsonObject readBoundedObject(const QByteArray &text, int maxValues, bool *ok)
{
    if (ok)
        *ok = false;
    Scanner scan(text);
    qint64 values = 0;
    if (scan.peek() != '{' || !scan.value(0, &values) || !scan.atEnd() || values > maxValues)
        return {};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    if (ok)
        *ok = true;
    return document.object();
}

ListRead readList(const QByteArray &text, QLatin1StringView key, int maxEntries,
                  const std::function<void(const QJsonObject &)> &take,
                  const std::function<bool(QByteArrayView)> &alsoWanted,
                  const std::function<void(const QJsonObject &)> &takePast)
{
    ListRead read;
    Scanner scan(text);
    QList<QByteArrayView> wanted;
    QList<QByteArrayView> wantedPast;
    bool found = false;
    int looked = 0;
    int total = 0;
    if (!scan.take('{'))
        return read;
    if (!scan.take('}')) {
        do {
            QByteArrayView name;
            if (!scan.string(&name) || !scan.take(':'))
                return read;
            const bool named = sameName(name, key);
            if (named && scan.peek() == '[') {
                // A later member of the same name replaces an earlier one.
                found = true;
                wanted.clear();
                wantedPast.clear();
                looked = 0;
                total = 0;
                const bool wellFormed = scan.array(1, [&](QByteArrayView entry, qint64 values) {
                    if (total < INT_MAX)
                        ++total;
                    if (looked >= maxEntries) {
                        if (alsoWanted && takePast && entry.startsWith('{') && values <= kMaxEntryValues
                            && alsoWanted(entry))
                            wantedPast.append(entry);
                        return;
                    }
                    ++looked;
                    if (entry.startsWith('{') && values <= kMaxEntryValues)
                        wanted.append(entry);
                });
                if (!wellFormed)
                    return read;
                continue;
            }
            qint64 values = 0;
            if (!scan.value(1, &values))
                return read;
            if (named)
                found = false;
        } while (scan.take(','));
        if (!scan.take('}'))
            return read;
    }
    if (!scan.atEnd())
        return read;
    read.object = true;
    read.list = found;
    read.entries = looked;
    read.total = found ? total : 0;
    if (!found)
        return read;
    for (const QByteArrayView entry : std::as_const(wanted)) {
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromRawData(entry.data(), entry.size()));
        if (document.isObject())
            take(document.object());
    }
    for (const QByteArrayView entry : std::as_const(wantedPast)) {
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromRawData(entry.data(), entry.size()));
        if (document.isObject())
            takePast(document.object());
    }
    return read;
}

} // namespace velmor::net
