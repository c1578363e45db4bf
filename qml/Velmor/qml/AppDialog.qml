import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import Velmor

// Modal sheet: a title over caller-supplied items.
Popup {
    id: popup

    property alias title: titleText.text
    property alias content: body.children

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    padding: 0
    width: Overlay.overlay ? Math.min(460, Overlay.overlay.width - 48) : 460

    background: Rectangle {
        radius: Theme.radiusSheet
        color: Theme.panelBg
        border.width: 1
        border.color: Theme.border
    }

    Overlay.modal: Rectangle { color: Theme.scrim }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: Theme.durationNormal }
    }
    exit: Transition {
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: Theme.durationFast }
    }

    contentItem: Column {
        id: column
        spacing: Theme.space16
        padding: Theme.space20

        Text {
            id: titleText
            objectName: "titleText"
            width: column.width - column.leftPadding - column.rightPadding
            textFormat: Text.PlainText
            color: Theme.textPrimary
            font.pixelSize: Theme.fontTitle3
            font.weight: Font.DemiBold
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            Accessible.role: Accessible.Heading
        }

        Column {
            id: body
            objectName: "body"
            width: column.width - column.leftPadding - column.rightPadding
            spacing: Theme.space12
        }
    }
}
