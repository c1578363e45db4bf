import QtQuick
import Velmor

// Capsule text field with a magnifier and a clear button. `onGradient`
// switches to translucent white for fields laid on a gradient card.
// A plain text input, not a control: the sidebar shows it in the home
// view's first frame, which then needs none of the controls' modules.
TextInput {
    id: field

    property bool onGradient: false
    property string placeholderText: ""
    property color placeholderTextColor: onGradient ? "#8cffffff" : Theme.placeholder
    // The capsule behind the text.
    readonly property alias background: capsule

    // A text input's implicit height is its text's and its paddings' (no
    // more than that unless given a height, as the sidebar does).
    topPadding: 6
    bottomPadding: 6
    leftPadding: 34
    rightPadding: clearButton.visible ? 34 : Theme.space16
    font.pixelSize: Theme.fontBody
    selectByMouse: true
    activeFocusOnTab: true
    verticalAlignment: TextInput.AlignVCenter
    color: onGradient ? "white" : Theme.textPrimary
    Accessible.name: placeholderText

    Rectangle {
        id: capsule
        objectName: "searchBackground"
        z: -1
        anchors.fill: parent
        radius: height / 2
        color: field.onGradient ? "#21ffffff" : Theme.buttonBg
        border.width: 1
        border.color: field.activeFocus ? (field.onGradient ? "#66ffffff" : Theme.searchBorder)
                                        : "transparent"
    }

    Text {
        objectName: "placeholder"
        x: field.leftPadding
        y: field.topPadding
        width: field.width - field.leftPadding - field.rightPadding
        height: field.height - field.topPadding - field.bottomPadding
        text: field.placeholderText
        font: field.font
        color: field.placeholderTextColor
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        visible: field.length === 0 && field.preeditText === ""
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
