import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Velmor

// A small modal question: title, body, cancel and confirm at the bottom
// right. confirmed() leaves closing to the user of the popup.
Popup {
    id: cp

    property string titleText: ""
    property string bodyText: ""
    property string confirmText: I18n.tr("common.ok")
    property color confirmColor: Theme.linkFg
    // The empty text hides the cancel button.
    property string cancelText: I18n.tr("common.cancel")

    signal confirmed()

    component TextButton: Rectangle {
        id: btn
        property alias label: btnLabel.text
        property alias labelColor: btnLabel.color
        signal clicked()
        implicitWidth: btnLabel.implicitWidth + 28
        implicitHeight: 34
        radius: 6
        color: btnMa.containsMouse ? Theme.hoverBg : "transparent"
        Accessible.role: Accessible.Button
        Accessible.name: btnLabel.text
        Text {
            id: btnLabel
            anchors.centerIn: parent
            font.pixelSize: Theme.fontBody
            font.weight: Font.DemiBold
        }
        MouseArea {
            id: btnMa
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: btn.clicked()
        }
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: 340
    padding: 0

    background: Rectangle {
        radius: Theme.radiusMedium
        color: Theme.panelBg
        border.width: 1
        border.color: Theme.border
    }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 140 }
        NumberAnimation { property: "scale"; from: 0.95; to: 1; duration: 160; easing.type: Easing.OutCubic }
    }

    contentItem: ColumnLayout {
        spacing: 0

        Text {
            objectName: "confirmTitle"
            Layout.fillWidth: true
            Layout.leftMargin: 22
            Layout.topMargin: 20
            Layout.rightMargin: 22
            text: cp.titleText
            font.pixelSize: Theme.fontCallout
            font.weight: Font.DemiBold
            color: Theme.textBold
        }
        Text {
            objectName: "confirmBody"
            Layout.fillWidth: true
            Layout.leftMargin: 22
            Layout.topMargin: 12
            Layout.rightMargin: 22
            text: cp.bodyText
            wrapMode: Text.Wrap
            color: Theme.textPrimary
            font.pixelSize: Theme.fontBody
            lineHeight: 1.35
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Layout.rightMargin: 12
            Layout.topMargin: 18
            Layout.bottomMargin: 10
            spacing: 4
            TextButton {
                objectName: "confirmCancel"
                visible: cp.cancelText !== ""
                label: cp.cancelText
                labelColor: Theme.linkFg
                onClicked: cp.close()
            }
            TextButton {
                objectName: "confirmOk"
                label: cp.confirmText
                labelColor: cp.confirmColor
                onClicked: cp.confirmed()
            }
        }
    }
}
