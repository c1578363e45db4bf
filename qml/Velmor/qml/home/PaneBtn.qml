import QtQuick
import Velmor

// Button of the pages on the main card: translucent white, or filled white
// for a page's main action. `themed` takes the theme's colours for the
// sheets: grey, or brand blue for the main action.
Rectangle {
    id: btn

    property string label: ""
    property bool primary: false
    property bool themed: false

    signal clicked()

    implicitWidth: labelText.implicitWidth + 30
    implicitHeight: 38
    radius: 11
    // On a sheet a disabled button keeps its colour, faded.
    opacity: themed && !enabled ? 0.45 : 1
    color: themed ? (primary ? (ma.containsMouse ? Theme.accentOver : Theme.brandBlue)
                             : (ma.containsMouse ? Theme.hoverBg : Theme.buttonBg))
                  : (!enabled ? "#14ffffff"
                              : (primary ? (ma.containsMouse ? "#f2ffffff" : "#ffffff")
                                         : (ma.containsMouse ? "#33ffffff" : "#21ffffff")))
    Accessible.role: Accessible.Button
    Accessible.name: label

    // Reached with Tab, shown by a ring around it, pressed with Space or
    // Enter.
    activeFocusOnTab: true
    Keys.onSpacePressed: if (btn.enabled) btn.clicked()
    Keys.onReturnPressed: if (btn.enabled) btn.clicked()
    Keys.onEnterPressed: if (btn.enabled) btn.clicked()

    Text {
        id: labelText
        anchors.centerIn: parent
        text: btn.label
        font.pixelSize: 13
        font.weight: Font.DemiBold
        color: btn.themed ? (btn.primary ? "white" : Theme.textPrimary)
                          : (!btn.enabled ? "#66ffffff" : (btn.primary ? "#5f608b" : "white"))
    }

    Rectangle {
        objectName: "focusRing"
        anchors.fill: parent
        anchors.margins: -3
        radius: btn.radius + 3
        color: "transparent"
        border.width: 2
        border.color: btn.themed ? Theme.brandBlue : "#ffffff"
        visible: btn.activeFocus
    }

    MouseArea {
        id: ma
        anchors.fill: parent
        hoverEnabled: true
        enabled: btn.enabled
        cursorShape: btn.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: btn.clicked()
    }
}
