#include "line_start_finder.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>

namespace velmor::views {

namespace {

struct Found
{
    int lineStart = 0;
    QString laid;
};

Found lastLineStart(const QString &markup, qreal width, const QString &fontDescription)
{
    // A font of this thread's own: a copy of the window's would share its
    // cache of font engines with the window's thread.
    QFont font;
    font.fromString(fontDescription);
    QTextDocument document;
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setUseDesignMetrics(true);
    document.setDefaultTextOption(option);
    document.setHtml(markup);
    document.setTextWidth(width);
    document.documentLayout()->documentSize();   // lays the whole document out

    Found out;
    const QTextBlock last = document.lastBlock();
    const QTextLayout *layout = last.layout();
    if (layout && layout->lineCount() > 0)
        out.lineStart = last.position() + layout->lineAt(layout->lineCount() - 1).textStart();
    QTextCursor all(&document);
    all.setPosition(document.characterCount() - 1, QTextCursor::KeepAnchor);
    out.laid = all.selectedText();
    return out;
}

} // namespace

LineStartFinder::LineStartFinder(QObject *parent) : QObject(parent)
{
    m_thread.setMaxThreadCount(1);
}

LineStartFinder::~LineStartFinder()
{
    // A job holds `this` until it has posted its answer (which dies with
    // this object if not delivered yet).
    m_thread.clear();
    m_thread.waitForDone();
}

void LineStartFinder::find(int token, const QString &markup, qreal width, const QFont &font)
{
    m_thread.start([this, token, markup, width, description = font.toString()] {
        const Found found = lastLineStart(markup, width, description);
        QMetaObject::invokeMethod(this, [this, token, found] { emit this->found(token, found.lineStart, found.laid); },
                                  Qt::QueuedConnection);
    });
}

} // namespace velmor::views
