import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Velmor

// Edits one text of a group (name, remark, nickname). "保存" and Enter emit
// `confirmed()` and close.
Popup {
    id: popup

    property string headerText: ""
    property string hintText: ""
    property alias placeholderText: editField.placeholderText
    property alias maximumLength: editField.maximumLength
    readonly property alias field: editField

    signal confirmed()

    function save() {
        confirmed()
        close()
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    dim: true
    width: 360
    padding: 0
    onOpened: {
        editField.forceActiveFocus()
        editField.selectAll()
    }

    T.Overlay.modal: Rectangle { color: "#66000000" }
    background: Rectangle {
        radius: 20
        border.width: 1
        border.color: "#33ffffff"
        gradient: Gradient {
            GradientStop { position: 0; color: "#1b1e33" }
            GradientStop { position: 1; color: "#2a2447" }
        }
    }

    contentItem: ColumnLayout {
        spacing: 0
        Text {
            Layout.topMargin: 22
            Layout.alignment: Qt.AlignHCenter
            text: popup.headerText
            color: "white"
            font.pixelSize: 16
            font.bold: true
        }
        Text {
            Layout.topMargin: 6
            Layout.leftMargin: 26
            Layout.rightMargin: 26
            Layout.fillWidth: true
            visible: popup.hintText !== ""
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: popup.hintText
            color: "#8cffffff"
            font.pixelSize: 11
        }
        TextField {
            id: editField
            objectName: "editField"
            Layout.topMargin: 16
            Layout.leftMargin: 20
            Layout.rightMargin: 20
            Layout.fillWidth: true
            Layout.preferredHeight: 42
            color: "white"
            font.pixelSize: 14
            placeholderTextColor: "#66ffffff"
            leftPadding: 14
            rightPadding: 50
            selectByMouse: true
            onAccepted: popup.save()
            background: Rectangle {
                radius: 12
                color: "#14ffffff"
                border.width: 1
                border.color: editField.activeFocus ? "#66ffffff" : "#26ffffff"
            }
            Text {
                objectName: "lengthCounter"
                anchors.right: parent.right
                anchors.rightMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                visible: editField.maximumLength < 32767
                text: editField.length + "/" + editField.maximumLength
                color: "#59ffffff"
                font.pixelSize: 10
            }
        }
        RowLayout {
            Layout.topMargin: 20
            Layout.leftMargin: 20
            Layout.rightMargin: 20
            Layout.bottomMargin: 20
            Layout.fillWidth: true
            spacing: 10
            Rectangle {
                objectName: "cancelPill"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.preferredHeight: 40
                radius: 20
                color: cancelMa.containsMouse ? "#2effffff" : "#1effffff"
                border.width: 1
                border.color: "#33ffffff"
                Text { anchors.centerIn: parent; text: I18n.tr("common.cancel"); color: "white"; font.pixelSize: 13; font.weight: Font.DemiBold }
                MouseArea { id: cancelMa; anchors.fill: parent; hoverEnabled: true; cursorShape: Qt.PointingHandCursor; onClicked: popup.close() }
            }
            Rectangle {
                objectName: "savePill"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                Layout.preferredHeight: 40
                radius: 20
                color: saveMa.containsMouse ? "#f2ffffff" : "#ffffff"
                Text { anchors.centerIn: parent; text: I18n.tr("common.save"); color: "#5f608b"; font.pixelSize: 13; font.bold: true }
                MouseArea { id: saveMa; anchors.fill: parent; hoverEnabled: true; cursorShape: Qt.PointingHandCursor; onClicked: popup.save() }
            }
        }
    }
}
