#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace velmor::views {

// Where a text may be cut without splitting what a reader sees as one
// character (a letter with its accents, a flag, an emoji with its skin tone
// or joined parts, a CR LF), by Qt's own Unicode rules: the script engine
// has no text segmenter, and a copy of the Unicode tables in script would
// age with every Unicode version.
class TextBounds : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The last position at or before `at` where `text` may be cut; 0 when
    // there is none after its start. What follows `at` matters only as far
    // as its next character, so a caller may pass the text up to there.
    Q_INVOKABLE int lastCharacterBoundary(const QString &text, int at) const;
};

} // namespace velmor::views
