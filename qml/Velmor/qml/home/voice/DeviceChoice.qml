import QtQuick
import QtQuick.Controls.Basic

// An audio device choice of the room's control bar. It starts on the first
// entry and emits `picked` only when the user chooses one.
ComboBox {
    id: box

    signal picked(string id)

    implicitWidth: 170
    implicitHeight: 34
    textRole: "name"
    valueRole: "id"
    onActivated: (index) => {
        var entry = box.model && index >= 0 ? box.model[index] : null
        if (entry)
            box.picked(String(entry.id))
    }

    background: Rectangle { radius: 10; color: "#21ffffff" }
    contentItem: Text {
        leftPadding: 10
        rightPadding: box.indicator.width
        verticalAlignment: Text.AlignVCenter
        text: box.displayText
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 11
        elide: Text.ElideRight
    }
}
