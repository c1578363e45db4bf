#include "text_bounds.h"

#include <QTextBoundaryFinder>

namespace velmor::views {

int TextBounds::lastCharacterBoundary(const QString &text, int at) const
{
    if (at <= 0)
        return 0;
    if (at >= text.size())
        return int(text.size());
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(at);
    if (finder.isAtBoundary())
        return at;
    return int(qMax<qsizetype>(0, finder.toPreviousBoundary()));
}

} // namespace velmor::views
