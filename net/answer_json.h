// JSON answers of servers, read without building more than is kept.
//
// QJsonDocument builds every value of a text before anything can be taken
// from it, at about twenty times the text's size for small values: an
// answer just under the size cap made of tiny list entries cost half a
// gigabyte. These readers first check the whole text's syntax without
// building anything, then build only what is wanted, one list entry at a
// time (each with QJsonDocument), and skip the rest.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QLatin1StringView>

#include <functional>

namespace velmor::net {

// Values (objects, arrays, strings, numbers, literals) one entry of a list,
// or one event, may hold; a larger one is not built.
constexpr int kMaxEntryValues = 4096;
// Values an answer read whole (not as a list) may hold.
constexpr int kMaxAnswerValues = 16384;
// Nesting deeper than this is not taken as an answer.
constexpr int kMaxJsonDepth = 64;

// `text` as a JSON object when it is one of at most `maxValues` values;
// else an empty object and *ok false.
QJsonObject readBoundedObject(const QByteArray &text, int maxValues = kMaxAnswerValues, bool *ok = nullptr);

struct ListRead
{
    bool object = false; // the text is a well-formed JSON object
    bool list = false;   // …whose member `key` is an array
    int entries = 0;     // entries of that array looked at (at most the maximum asked)
    int total = 0;       // entries the array holds, counted without building them
};

// Reads the array under the top-level member `key` of a JSON object (the
// last one, as QJsonDocument would): of its first `maxEntries` entries,
// each object of at most kMaxEntryValues values goes to `take` in order,
// built alone and freed after; other entries are passed over, and nothing
// past the first `maxEntries` is built. A text that is not a well-formed
// object gives nothing at all.
// `alsoWanted`, when given, picks entries past the first `maxEntries` by
// their raw text (a cheap look, such as "does it hold this key"): those are
// built too, one at a time, and go to `takePast` after the others have gone
// to `take`; the caller keeps what it needs of them.
ListRead readList(const QByteArray &text, QLatin1StringView key, int maxEntries,
                  const std::function<void(const QJsonObject &)> &take,
                  const std::function<bool(QByteArrayView)> &alsoWanted = {},
                  const std::function<void(const QJsonObject &)> &takePast = {});

} // namespace velmor::net
