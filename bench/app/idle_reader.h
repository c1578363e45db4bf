// The window bench's long-text reader case: the reader (ours or the bare
// card) opened on a long text, its time to the first frame with text and
// the GUI thread's worst stall, then scrolled a step a frame.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QQuickItem;
class QQuickWindow;

namespace velmor::bench::idle {

// 60,000 characters in lines of about 70; with `emoji`, 30,000 emoji in
// one run (faces, a flag, a skin tone, a joined sequence, a heart with its
// selector), or the first `count` of them.
QString readerText(bool emoji = false, int count = 30000);

// Whether a reader mode ("home-reader-emoji", "bare-reader-emoji") shows emoji.
bool emojiMode(const QByteArray &mode);

// Opens the reader with `open` once the window has rested and reports
// "open <ms> stall <ms>", then, unless PELORIN_READER_OPEN_ONLY=1, calls
// `beforeScroll` and adds the scroll's frame intervals. One reader a run.
void openReader(QQuickWindow *window, const std::function<QQuickItem *()> &open,
                const std::function<void()> &beforeScroll);

// The home view's reader opened on the text: its card's content item.
QQuickItem *openHomeReader(QQuickWindow *window, bool emoji);

// The bare reader's popup (QML): a card with a selectable text.
extern const char kBareReader[];

} // namespace velmor::bench::idle
