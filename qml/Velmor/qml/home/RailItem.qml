import QtQuick
import Velmor

// An animated icon with a label for a navigation rail. It loops its frames
// for ever (loopAlways), or rests on the middle frame and plays one round
// from there each time it becomes active.
Rectangle {
    id: rail

    property string iconBase: ""
    property string label: ""
    property bool active: false
    property int fps: 30
    property bool loopAlways: false
    property int frameCount: 1
    readonly property int mid: Math.floor(frameCount / 2)
    property int idx: loopAlways ? 0 : mid
    // Steps left of the round that activation started.
    property int _stepsLeft: 0

    signal clicked()

    readonly property url _assets: Qt.resolvedUrl("../../assets/")

    implicitWidth: 60
    implicitHeight: 72
    radius: 16
    color: active ? "#787e8a24" : "transparent"
    activeFocusOnTab: true
    Accessible.role: Accessible.Button
    Accessible.name: label

    onActiveChanged: {
        if (active && !loopAlways) {
            idx = mid
            _stepsLeft = frameCount
        }
    }

    Column {
        anchors.centerIn: parent
        spacing: 2

        Image {
            objectName: "railImage"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 47
            height: 47
            source: rail.iconBase === "" ? ""
                    : rail._assets + rail.iconBase + (Theme.dark ? "_dark" : "") + "_frames/f" + rail.idx + ".svg"
            sourceSize: Qt.size(94, 94)
            fillMode: Image.PreserveAspectFit
            smooth: true
            opacity: rail.active ? 1.0 : 0.6
        }
        Text {
            objectName: "railLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            text: rail.label
            font.pixelSize: 11
            font.bold: true
            color: rail.active ? Theme.textPrimary : Theme.textSecondary
        }
    }

    // Follows the shared clock (at most its rate), which runs only while the
    // window is active.
    FrameStepper {
        objectName: "railTimer"
        period: Math.max(16, Math.round(1000 / Math.max(1, rail.fps)))
        running: (rail.loopAlways || rail._stepsLeft > 0) && rail.visible
        onStepped: rail.step()
    }

    function step() {
        idx = (idx + 1) % Math.max(1, frameCount)
        if (!loopAlways && _stepsLeft > 0)
            _stepsLeft -= 1
    }

    TapHandler { onTapped: rail.clicked() }
    Keys.onReturnPressed: rail.clicked()
    Keys.onEnterPressed: rail.clicked()
    Keys.onSpacePressed: rail.clicked()
}
