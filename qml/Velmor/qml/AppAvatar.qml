import QtQuick
import QtQuick.Window
import Qt5Compat.GraphicalEffects
import Velmor

// Round picture on a coloured disk. The picture is cut by an antialiased
// circular mask rather than a clip, which would leave jagged corners.
Item {
    id: root

    property url source
    property bool shadowEnabled: true
    property color fallbackColor: Theme.avatarBg

    implicitWidth: Theme.avatarMedium
    implicitHeight: Theme.avatarMedium

    Rectangle {
        id: shadowDisk
        objectName: "shadowDisk"
        width: parent.width
        height: parent.height
        y: 2
        radius: width / 2
        color: Theme.shadow
        visible: root.shadowEnabled
    }

    Rectangle {
        id: avatarDisk
        objectName: "avatarDisk"
        anchors.fill: parent
        radius: width / 2
        color: root.fallbackColor

        Image {
            id: picture
            objectName: "picture"
            anchors.fill: parent
            anchors.margins: 2
            source: root.source
            fillMode: Image.PreserveAspectCrop
            asynchronous: true
            cache: true
            smooth: true
            mipmap: true
            sourceSize: Qt.size(Math.max(64, width * Screen.devicePixelRatio),
                                Math.max(64, height * Screen.devicePixelRatio))
            visible: false
        }

        Rectangle {
            id: circleMask
            anchors.fill: picture
            radius: width / 2
            antialiasing: true
            visible: false
        }

        OpacityMask {
            objectName: "maskedPicture"
            anchors.fill: picture
            source: picture
            maskSource: circleMask
            visible: picture.status === Image.Ready
        }
    }
}
