import QtQuick
import Velmor

// The composer's send capsule: filled while there is something to send
// (`ready`), white on the home view's gradient card.
Rectangle {
    id: sendBtn

    property bool ready: false
    property bool onGradient: false

    signal clicked()

    readonly property color contentColor: !ready ? "#66ffffff" : (onGradient ? "#5f608b" : "#ffffff")

    objectName: "sendBtn"
    implicitWidth: sendRow.implicitWidth + 30
    implicitHeight: 34
    radius: 17
    color: !ready ? (onGradient ? "#14ffffff" : Theme.buttonBg)
                  : sendMa.containsMouse ? (onGradient ? "#f2ffffff" : Theme.accentOver)
                                         : (onGradient ? "#ffffff" : Theme.accent)

    Row {
        id: sendRow
        objectName: "sendRow"
        anchors.centerIn: parent
        spacing: 6
        TgIcon {
            anchors.verticalCenter: parent.verticalCenter
            name: "send"
            size: 15
            color: sendBtn.contentColor
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: I18n.tr("common.send")
            font.pixelSize: 13
            font.weight: Font.DemiBold
            color: sendBtn.contentColor
        }
    }
    MouseArea {
        id: sendMa
        objectName: "sendMa"
        anchors.fill: parent
        hoverEnabled: true
        enabled: sendBtn.ready
        cursorShape: sendBtn.ready ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: sendBtn.clicked()
    }
}
