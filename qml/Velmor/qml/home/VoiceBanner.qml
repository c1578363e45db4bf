import QtQuick
import Velmor

// Strip above the message list while the shown super group's voice room is
// open: says whether the user is listening and leads into the room.
Item {
    id: strip

    property bool listening: false

    signal clicked()

    readonly property url _assets: Qt.resolvedUrl("../../assets/")

    Rectangle {
        id: voiceBanner
        objectName: "voiceBanner"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.topMargin: 10
        width: Math.round(strip.width * 0.9)
        height: 44
        radius: 18
        color: "#f2456BA5"

        Item {
            id: animSlot
            anchors.left: parent.left
            anchors.leftMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            width: 30
            height: 30

            Image {
                id: chatroomAnim
                objectName: "chatroomAnim"
                property int idx: 0
                anchors.centerIn: parent
                width: 60
                height: 60
                source: strip._assets + "chatroom_frames/f" + idx + ".svg"
                sourceSize: Qt.size(120, 120)
                fillMode: Image.PreserveAspectFit
                smooth: true
            }
        }

        Text {
            objectName: "bannerLabel"
            anchors.left: parent.left
            anchors.leftMargin: 62
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: I18n.tr(strip.listening ? "voice.bannerListening" : "voice.bannerJoin")
            color: "white"
            font.pixelSize: 14
            font.weight: Font.DemiBold
            elide: Text.ElideRight
        }

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: strip.clicked()
        }
    }

    // Steps on the shared clock, which runs only while the window is active.
    FrameStepper {
        objectName: "bannerTimer"
        period: 40
        running: strip.visible
        onStepped: chatroomAnim.idx = (chatroomAnim.idx + 1) % 55
    }
}
