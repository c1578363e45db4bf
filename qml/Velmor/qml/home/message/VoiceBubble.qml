import QtQuick
import Velmor

// A voice message: play badge (a pause sign while it plays), the waveform
// bars and the length in seconds. A click anywhere asks to start or stop.
Item {
    id: root

    property var bars: []
    property string durationText: ""
    property bool playing: false
    property color ink: Theme.textPrimary

    signal clicked()

    readonly property int barCount: bars ? bars.length : 0
    readonly property url _badge: Qt.resolvedUrl("../../../assets/play_frames/f0.svg")

    implicitWidth: 12 + 28 + 8 + 4.2 * barCount + 8 + 28 + 12
    implicitHeight: 54

    Row {
        x: 12
        anchors.verticalCenter: parent.verticalCenter
        anchors.verticalCenterOffset: -4
        spacing: 8

        Item {
            width: 28
            height: 28
            anchors.verticalCenter: parent.verticalCenter

            Image {
                objectName: "playIcon"
                anchors.fill: parent
                visible: !root.playing
                source: root._badge
                sourceSize: Qt.size(56, 56)
                smooth: true
            }
            Row {
                objectName: "pauseGlyph"
                anchors.centerIn: parent
                visible: root.playing
                spacing: 4
                Repeater {
                    model: 2
                    Rectangle { width: 4; height: 15; radius: 2; color: root.ink }
                }
            }
        }

        Row {
            objectName: "waveform"
            anchors.verticalCenter: parent.verticalCenter
            spacing: 1.8
            opacity: root.playing ? 1.0 : 0.62
            Repeater {
                model: root.bars
                delegate: Rectangle {
                    required property var modelData
                    anchors.verticalCenter: parent ? parent.verticalCenter : undefined
                    width: 2.4
                    height: Number(modelData)
                    radius: 1.2
                    color: root.ink
                }
            }
        }

        Text {
            objectName: "voiceDuration"
            anchors.verticalCenter: parent.verticalCenter
            text: root.durationText
            textFormat: Text.PlainText
            color: root.ink
            font.pixelSize: 12
            font.weight: Font.Medium
        }
    }

    MouseArea {
        objectName: "voiceArea"
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
