import QtQuick
import Velmor

// Takes the composer's place for the official account, which nobody can
// answer.
Item {
    Rectangle {
        anchors.centerIn: parent
        width: officialReadOnly.implicitWidth + 28
        height: 32
        radius: 16
        color: "#21ffffff"
        Text {
            id: officialReadOnly
            objectName: "officialReadOnly"
            anchors.centerIn: parent
            text: I18n.tr("chat.officialReadOnly")
            color: "#d9ffffff"
            font.pixelSize: 11
        }
    }
}
