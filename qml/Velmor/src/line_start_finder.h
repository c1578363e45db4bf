#pragma once

#include <QFont>
#include <QObject>
#include <QThreadPool>
#include <QtQml/qqmlregistration.h>

namespace velmor::views {

// Finds where the last line of a piece of styled text starts once laid out
// at a width, on a thread of its own: the long-text reader cuts a text into
// pieces that end where a line starts, and laying each piece out on the
// window's thread for that, before its own text item lays it out again as
// it scrolls into view, held the window for the whole text's layout.
//
// The piece is laid out as a rich-text TextEdit lays it out (the document's
// margin none, wrapping at word boundaries or anywhere, design metrics, the
// pictures' sizes as their tags give them), so the line found is the line
// the reader's piece shows. One piece at a time, in the order asked.
class LineStartFinder : public QObject
{
    Q_OBJECT
    QML_ELEMENT

public:
    explicit LineStartFinder(QObject *parent = nullptr);
    ~LineStartFinder() override;

    // Lays `markup` out `width` wide in `font` and answers with found(token,
    // …): the position where its last line starts and the text the layout
    // holds (what TextEdit.getText gives for the whole of it).
    Q_INVOKABLE void find(int token, const QString &markup, qreal width, const QFont &font);

signals:
    void found(int token, int lineStart, const QString &laid);

private:
    QThreadPool m_thread;
};

} // namespace velmor::views
