import QtQuick
import QtQuick.Controls.Basic
import Velmor

// Capsule text field with a magnifier and a clear button. `onGradient`
// switches to translucent white for fields laid on a gradient card.
TextField {
    id: field

    property bool onGradient: false

    implicitHeight: Theme.controlHeight
    leftPadding: 34
    rightPadding: clearButton.visible ? 34 : Theme.space16
    font.pixelSize: Theme.fontBody
    selectByMouse: true
    activeFocusOnTab: true
    verticalAlignment: TextInput.AlignVCenter
    color: onGradient ? "white" : Theme.textPrimary
    placeholderTextColor: onGradient ? "#8cffffff" : Theme.placeholder
    Accessible.name: placeholderText

    background: Rectangle {
        radius: height / 2
        color: field.onGradient ? "#21ffffff" : Theme.buttonBg
        border.width: 1
        border.color: field.activeFocus ? (field.onGradient ? "#66ffffff" : Theme.searchBorder)
                                        : "transparent"
    }

    TgIcon {
        id: magnifier
        objectName: "magnifier"
        name: "search"
        size: 16
        x: 11
        anchors.verticalCenter: parent.verticalCenter
        color: field.onGradient ? "#d9ffffff"
                                : (field.activeFocus ? Theme.accent : Theme.textSecondary)
    }

    Rectangle {
        id: clearButton
        objectName: "clearButton"
        width: 22
        height: 22
        radius: 11
        x: field.width - width - 7
        anchors.verticalCenter: parent.verticalCenter
        visible: field.text.length > 0
        color: clearMa.containsMouse ? (field.onGradient ? "#21ffffff" : Theme.listBgOver)
                                     : "transparent"
        Accessible.role: Accessible.Button
        Accessible.name: I18n.tr("common.close")

        TgIcon {
            objectName: "clearGlyph"
            anchors.centerIn: parent
            name: "close"
            size: 13
            color: field.onGradient ? "#d9ffffff" : Theme.textSecondary
        }

        MouseArea {
            id: clearMa
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: field.clear()
        }
    }
}
