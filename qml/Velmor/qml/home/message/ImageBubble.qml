import QtQuick
import Velmor
import "rowLogic.js" as Logic

// An image message: the thumbnail on a transparent bubble 3 px larger on
// each side, with the time (and the tick of an outgoing message) in a dark
// capsule at its bottom right. A click on the picture asks for the preview.
Item {
    id: root

    property string source: ""
    property int imageWidth: 0
    property int imageHeight: 0
    property string time: ""
    property string tick: ""

    signal clicked()

    readonly property var box: Logic.imageBox(imageWidth, imageHeight)
    readonly property real imgW: box.width
    readonly property real imgH: box.height

    implicitWidth: imgW + 6
    implicitHeight: imgH + 6

    Image {
        id: picture
        objectName: "picture"
        anchors.centerIn: parent
        width: root.imgW
        height: root.imgH
        source: root.source
        // Decoded at the thumbnail's size (twice for sharp output on
        // high-density screens), not at the full picture's.
        sourceSize: Qt.size(Math.ceil(root.imgW * 2), Math.ceil(root.imgH * 2))
        fillMode: Image.PreserveAspectFit
        asynchronous: true
        smooth: true

        MouseArea {
            objectName: "pictureArea"
            anchors.fill: parent
            onClicked: root.clicked()
        }
    }

    Rectangle {
        objectName: "timeCapsule"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.rightMargin: 8
        anchors.bottomMargin: 8
        width: imgMeta.implicitWidth + 12
        height: 18
        radius: 9
        color: "#54000000"

        TimeTick {
            id: imgMeta
            objectName: "imgMetaRow"
            anchors.centerIn: parent
            time: root.time
            tick: root.tick
            textColor: "#ffffff"
            tickColor: "#ffffff"
            fontSize: 11
            tickSize: 12
        }
    }
}
