// Canonical JSON: the one byte form of a JSON value that signatures cover.
// Object members sorted by the UTF-8 bytes of their names, no white space,
// strings as raw UTF-8 with only '"', '\\' and control characters escaped,
// integers only (|n| <= 2^53 - 1). Layout: docs/protocol.md.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>

namespace velmor::chat {

// Largest integer that a JSON number carries exactly.
constexpr qint64 kCanonicalMaxInteger = (qint64(1) << 53) - 1;

// Empty when the value holds a number that is not such an integer, or is
// undefined.
QByteArray canonicalJson(const QJsonValue &value);
QByteArray canonicalJson(const QJsonObject &object);
// Parses any JSON text (object or array at the top) and writes it again in
// canonical form; empty when it does not parse or cannot be canonical.
QByteArray canonicalizeJsonText(const QByteArray &text);
// True when `text` is already exactly canonical.
bool isCanonicalJson(const QByteArray &text);
// The object that `text` holds; an empty object when it does not parse or
// holds something else.
QJsonObject parseJsonObject(const QByteArray &text);

} // namespace velmor::chat
