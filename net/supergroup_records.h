// Reading the records a super-group server returns: its fields, which
// servers spell as strings or numbers, and its message objects, whose sealed
// content is opened and checked against the fields outside it.
#pragma once

#include <QJsonObject>
#include <QString>

namespace velmor::sg::records {

// A field as text (a number is written out); empty when absent or of
// another kind.
QString text(const QJsonObject &object, const QString &key);
// A field as a 64-bit integer (net/http.h jsonInteger); 0 otherwise.
qint64 integer(const QJsonObject &object, const QString &key);
// As integer(), 0 when outside the range of an int.
int smallInteger(const QJsonObject &object, const QString &key);
// A boolean, or a number read as non-zero; false otherwise.
bool flag(const QJsonObject &object, const QString &key);

} // namespace velmor::sg::records
