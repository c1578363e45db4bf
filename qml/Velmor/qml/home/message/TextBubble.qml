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

    readonly property bool hasTrans: !big && translated !== ""
    // Natural (unwrapped) widths, measured apart from the laid-out texts so
    // that wrapping them never feeds back into the bubble's width.
    readonly property real _natural: measureText.implicitWidth
    readonly property bool timeInline: !big && !hasTrans && text.indexOf("\n") < 0
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
        text: root.text
        textFormat: Text.PlainText
        font: msgText.font
    }
    Text {
        id: measureTrans
        visible: false
        text: root.hasTrans ? root.translated : ""
        textFormat: Text.PlainText
        font: transText.font
    }

    Text {
        id: msgText
        objectName: "msgText"
        x: root.big ? 4 : 11
        y: root._textTop
        width: Math.max(0, Math.min(root._natural, root.width - (root.big ? 8 : 22)))
        text: root.text
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
        text: root.hasTrans ? root.translated : ""
        textFormat: Text.PlainText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        font.pixelSize: Theme.fontBody
        opacity: 0.82
        color: root.ink
    }
}
