import QtQuick
import Velmor

// The translation under a text bubble's text (`bubble`), below a thin
// divider.
Item {
    id: root

    required property Item bubble

    readonly property real naturalWidth: measureTrans.implicitWidth
    implicitWidth: Math.max(bubble.shownTextWidth, transText.width)
    implicitHeight: transText.height + 5

    Rectangle {
        objectName: "transDivider"
        width: parent.width
        height: 1
        color: root.bubble.outgoing ? "#33ffffff" : "#1f000000"
    }

    Text {
        id: measureTrans
        visible: false
        text: transText.text
        textFormat: Text.StyledText
        font: transText.font
    }
    Text {
        id: transText
        objectName: "transText"
        y: 5
        width: root.bubble.textWidth(measureTrans.implicitWidth, 22)
        text: root.bubble.richTranslation
        textFormat: Text.StyledText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        font.pixelSize: Theme.fontBody
        opacity: 0.82
        color: root.bubble.ink
    }
}
