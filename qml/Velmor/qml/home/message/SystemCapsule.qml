import QtQuick
import Velmor

// The text of a system line, centred in its capsule. A line wider than the
// row wraps inside it rather than running past the row's edges.
Item {
    id: root

    property string text: ""
    property real maxWidth: 430

    implicitWidth: Math.min(sysText.implicitWidth + 24, Math.max(24, maxWidth))
    implicitHeight: sysText.height + 7

    Text {
        id: sysText
        objectName: "sysText"
        anchors.centerIn: parent
        width: Math.max(0, Math.min(implicitWidth, root.width - 24))
        horizontalAlignment: Text.AlignHCenter
        text: root.text
        textFormat: Text.PlainText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        color: "#ffffff"
        font.pixelSize: Theme.fontFootnote
        font.weight: Font.DemiBold
    }
}
