import QtQuick
import Velmor

// The content of a text bubble (message text, and a translation under a
// thin divider) or of a big-emoji bubble (one to three emoji at 34 px on
// no background). Its implicit size is the bubble's size; the row lays the
// sender label and the time over it and says how wide they are.
Item {
    id: root

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
    // with "…"; the stored message stays whole.
    readonly property int kMaxChars: 4000
    readonly property int kMaxLines: 120
    readonly property string _shown: bounded(text)
    readonly property string _shownTrans: hasTrans ? bounded(translated) : ""

    function bounded(value) {
        var s = value === undefined || value === null ? "" : String(value)
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
        if (end >= s.length)
            return s
        // Never half of a character that takes two code units.
        var code = s.charCodeAt(end - 1)
        if (end > 0 && code >= 0xD800 && code <= 0xDBFF)
            --end
        return s.substring(0, end) + "…"
    }

    readonly property bool hasTrans: !big && translated !== ""
    // Natural (unwrapped) widths, measured apart from the laid-out texts so
    // that wrapping them never feeds back into the bubble's width.
    readonly property real _natural: measureText.implicitWidth
    readonly property bool timeInline: !big && !hasTrans && _shown.indexOf("\n") < 0
                                       && _natural + 22 + metaWidth + 6 <= maxWidth
    readonly property color ink: outgoing ? Theme.bubbleTextOut : Theme.textPrimary
    readonly property real _textTop: big ? 2 : (senderShown ? 25 : 8)

    implicitWidth: {
        if (big)
            return _natural + 8
        if (timeInline)
            return _natural + 22 + metaWidth + 6
        var w = Math.max(_natural + 22, metaWidth + 22)
        if (hasTrans)
            w = Math.max(w, measureTrans.implicitWidth + 22)
        if (senderShown)
            w = Math.max(w, senderWidth + 22)
        return Math.min(w, maxWidth)
    }
    implicitHeight: {
        if (big)
            return msgText.implicitHeight + 8
        return msgText.height + (hasTrans ? transText.height + 9 : 0)
                + _textTop + (timeInline ? 8 : 22)
    }

    Text {
        id: measureText
        visible: false
        text: root._shown
        textFormat: Text.PlainText
        font: msgText.font
    }
    Text {
        id: measureTrans
        visible: false
        text: root._shownTrans
        textFormat: Text.PlainText
        font: transText.font
    }

    Text {
        id: msgText
        objectName: "msgText"
        x: root.big ? 4 : 11
        y: root._textTop
        width: Math.max(0, Math.min(root._natural, root.width - (root.big ? 8 : 22)))
        text: root._shown
        textFormat: Text.PlainText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        font.pixelSize: root.big ? 34 : Theme.fontBody
        color: root.ink
    }

    Rectangle {
        objectName: "transDivider"
        visible: root.hasTrans
        x: msgText.x
        y: msgText.y + msgText.height + 4
        width: Math.max(msgText.width, transText.width)
        height: 1
        color: root.outgoing ? "#33ffffff" : "#1f000000"
    }

    Text {
        id: transText
        objectName: "transText"
        visible: root.hasTrans
        x: msgText.x
        y: msgText.y + msgText.height + 9
        width: Math.max(0, Math.min(measureTrans.implicitWidth, root.width - 22))
        text: root._shownTrans
        textFormat: Text.PlainText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        font.pixelSize: Theme.fontBody
        opacity: 0.82
        color: root.ink
    }
}
