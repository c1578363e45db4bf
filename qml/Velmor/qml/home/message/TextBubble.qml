import QtQuick
import Velmor
import "emojiText.js" as EmojiText
import "../helpers.js" as Helpers

// The content of a text bubble (message text, and a translation under a
// thin divider) or of a big-emoji bubble (one to three emoji at 34 px on
// no background). Its implicit size is the bubble's size; the row lays the
// sender label and the time over it and says how wide they are.
Item {
    id: root

    // The "…" control of a cut text was clicked: the reader is to show the
    // whole text.
    signal fullTextRequested()

    property string text: ""
    property string translated: ""
    property bool big: false
    property bool outgoing: false
    // The sender label above the text (normal groups) and its natural width.
    property bool senderShown: false
    property real senderWidth: 0
    // Width of the time row, and the widest the bubble may be.
    property real metaWidth: 0
    property real maxWidth: 430

    // What one bubble lays out: a peer's text can be megabytes long, and
    // laying it out (again at every resize) would hold the window. The
    // text is cut after kMaxChars characters or kMaxLines lines and ends
    // with "…"; the stored message stays whole, and a "…" control under
    // the text opens it in the reader.
    readonly property int kMaxChars: 4000
    readonly property int kMaxLines: 120
    // ... and at most kMaxPictures emoji (their pictures cost more).
    readonly property int kMaxPictures: 100
    readonly property string _shown: bounded(text)
    readonly property string _shownTrans: hasTrans ? bounded(translated) : ""
    readonly property bool cut: _shown !== text
    // The same texts as styled text: every character escaped, emoji as
    // pictures about a line high. The format never changes with the text:
    // a format bound apart from its text lets Qt read a new text once in
    // the old format, and a peer's "<img>" would be fetched.
    readonly property int emojiPixels: big ? 40 : Theme.fontBody + 2
    readonly property int textPixelSize: big ? 34 : Theme.fontBody
    readonly property string _rich: EmojiText.markup(_shown, emojiPixels)
    readonly property string richTranslation: hasTrans ? EmojiText.markup(_shownTrans, emojiPixels) : ""

    function bounded(value) {
        var s = value === undefined || value === null ? "" : String(value)
        // Too short to reach any of the limits.
        if (s.length < kMaxLines && s.length <= kMaxPictures)
            return s
        var end = Math.min(s.length, kMaxChars)
        // Stops at the line break that ends the last allowed line: at most
        // kMaxLines searches, whatever the length.
        var at = -1
        for (var n = 0; n < kMaxLines; ++n) {
            at = s.indexOf("\n", at + 1)
            if (at < 0 || at >= end) {
                at = -1
                break
            }
        }
        if (at >= 0)
            end = at
        var pictures = EmojiText.pictureCut(s.substring(0, end), kMaxPictures)
        if (pictures >= 0)
            end = pictures
        if (end >= s.length)
            return s
        // Never half of a character that takes two code units.
        var code = s.charCodeAt(end - 1)
        if (end > 0 && code >= 0xD800 && code <= 0xDBFF)
            --end
        return s.substring(0, end) + "…"
    }

    readonly property bool hasTrans: !big && translated !== ""
    // Natural (unwrapped) widths. A Text of one line reports its unwrapped
    // width as its implicit width whatever width it is given, so the text
    // is shaped once and wrapping it never feeds back into the bubble's
    // width. Given a width, a Text of several lines reports them as if
    // laid end to end: such a text is measured apart (a rarer case).
    readonly property bool _breaks: _shown.indexOf("\n") >= 0
    readonly property real _natural: _breaks ? (_measure ? _measure.implicitWidth : 0) : msgText.implicitWidth
    readonly property real _naturalTrans: _trans ? _trans.naturalWidth : 0
    readonly property bool timeInline: !big && !hasTrans && !_breaks
                                       && _natural + 22 + metaWidth + 6 <= maxWidth
    readonly property color ink: outgoing ? Theme.bubbleTextOut : Theme.textPrimary
    // The width the text is laid out at.
    readonly property real shownTextWidth: msgText.width
    readonly property real _textTop: big ? 2 : (senderShown ? 25 : 8)

    implicitWidth: {
        if (big)
            return _natural + 8
        if (timeInline)
            return _natural + 22 + metaWidth + 6
        var w = Math.max(_natural + 22, metaWidth + 22)
        if (hasTrans)
            w = Math.max(w, _naturalTrans + 22)
        if (senderShown)
            w = Math.max(w, senderWidth + 22)
        return Math.min(w, maxWidth)
    }
    implicitHeight: {
        if (big)
            return msgText.implicitHeight + 8
        return msgText.height + (hasTrans && _trans ? _trans.height + 4 : 0)
                + _textTop + (timeInline ? 8 : 22) + (cut ? 6 : 0)
    }

    // The width a text is laid out at: its natural width, at most the
    // bubble's room. Before a text is first laid out its natural width is
    // still 0; it starts at the room instead of at 0, where every
    // character would make a line of its own.
    function textWidth(natural, inset) {
        if (natural <= 0)
            return Math.max(0, maxWidth - inset)
        return Math.min(natural, Math.max(0, width - inset))
    }

    Text {
        id: msgText
        objectName: "msgText"
        x: root.big ? 4 : 11
        y: root._textTop
        width: root.textWidth(root._natural, root.big ? 8 : 22)
        text: root._rich
        textFormat: Text.StyledText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        font.pixelSize: root.textPixelSize
        color: root.ink
    }

    // The parts only some bubbles show, made by address for those (a short
    // text of one line makes none): the "…" control under a cut text, on
    // the line of the time; the text measured apart (see _natural); the
    // translation under a thin divider. Each is null while not shown.
    property Item _readMore: null
    property Item _measure: null
    property Item _trans: null

    function _holdPart(name, shown, url, props) {
        Helpers.holdPart(root, name, shown, function () {
            return Qt.createComponent(url).createObject(root, props)
        })
    }
    function _holdParts() {
        _holdPart("_readMore", cut, "ReadMoreButton.qml", {
            "bubble": root, "x": 9, "y": Qt.binding(function () { return root.height - 5 - 20 }) // 20 high
        })
        _holdPart("_measure", _breaks, "TextMeasure.qml", { "bubble": root })
        _holdPart("_trans", hasTrans, "TranslationPart.qml", {
            "bubble": root, "x": Qt.binding(function () { return msgText.x }),
            "y": Qt.binding(function () { return msgText.y + msgText.height + 4 })
        })
    }
    onCutChanged: _holdParts()
    on_BreaksChanged: _holdParts()
    onHasTransChanged: _holdParts()
    // A new bubble holds no part yet: a short text of one line asks for none.
    Component.onCompleted: {
        if (cut || _breaks || hasTrans)
            _holdParts()
    }
}
