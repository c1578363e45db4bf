import QtQuick
import QtQuick.Layouts
import Velmor

// The box the user ticks to acknowledge that a forgotten backup password
// cannot be recovered. `themed` draws it with the theme's colours for the
// sheets instead of white on the gradient card.
Rectangle {
    id: box

    property bool checked: false
    property bool themed: false
    property alias text: ackText.text

    implicitHeight: Math.max(48, ackText.implicitHeight + 18)
    radius: 12
    color: themed ? (checked || ackMa.containsMouse ? Theme.hoverBg : Theme.buttonBg)
                  : (checked ? "#24ffffff" : (ackMa.containsMouse ? "#1cffffff" : "#12ffffff"))
    // A thicker ring while it has the keyboard focus; Space ticks it.
    border.width: activeFocus ? 2 : 1
    border.color: activeFocus ? (themed ? Theme.brandBlue : "#e6ffffff")
                              : themed ? (checked ? Theme.brandBlue : Theme.border)
                                       : (checked ? "#80ffffff" : "#26ffffff")
    activeFocusOnTab: true
    Keys.onSpacePressed: box.checked = !box.checked
    Behavior on color { ColorAnimation { duration: 130 } }
    Behavior on border.color { ColorAnimation { duration: 130 } }
    Accessible.role: Accessible.CheckBox
    Accessible.checked: checked
    Accessible.name: ackText.text

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 13
        anchors.rightMargin: 13
        spacing: 11
        Rectangle {
            Layout.preferredWidth: 21
            Layout.preferredHeight: 21
            Layout.alignment: Qt.AlignVCenter
            radius: 7
            color: box.themed ? (box.checked ? Theme.brandBlue : "transparent")
                              : (box.checked ? "#ffffff" : "#0dffffff")
            border.width: 1
            border.color: box.themed ? (box.checked ? Theme.brandBlue : Theme.textMuted)
                                     : (box.checked ? "#ffffff" : "#66ffffff")
            Text {
                anchors.centerIn: parent
                text: "✓"
                color: box.themed ? "white" : "#6b6693"
                font.pixelSize: 14
                font.bold: true
                opacity: box.checked ? 1 : 0
                scale: box.checked ? 1 : 0.65
                Behavior on opacity { NumberAnimation { duration: 120 } }
                Behavior on scale { NumberAnimation { duration: 140; easing.type: Easing.OutBack } }
            }
        }
        Text {
            id: ackText
            objectName: "bkupAckText"
            Layout.fillWidth: true
            text: I18n.tr("backup.ack")
            color: box.themed ? Theme.textPrimary : (box.checked ? "#f2ffffff" : "#c7ffffff")
            font.pixelSize: 12
            lineHeight: 1.25
            wrapMode: Text.Wrap
        }
    }
    MouseArea {
        id: ackMa
        objectName: "bkupAckMa"
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: box.checked = !box.checked
    }
}
