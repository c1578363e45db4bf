import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import ".."

// Name, notice, role, join mode and all-muted state of a super group; the
// managers also edit them here.
GlassCard {
    id: card

    property var info: ({})
    // A save or another action of the settings runs: no second save.
    property bool busy: false
    readonly property bool isManager: info.isManager === true
    readonly property bool joinOpen: info.joinMode === "open"
    readonly property alias nameField: nameField
    readonly property alias noticeArea: noticeArea
    readonly property alias joinOpenSwitch: sgJoinOpen
    readonly property alias allMutedSwitch: allMutedSwitch

    // The user typed in the name or the notice.
    signal nameEdited(string text)
    signal noticeEdited(string text)
    signal allMutedRequested(bool on)
    signal saveClicked(bool joinOpen)

    property bool _filling: false

    // Puts texts into the fields without counting them as the user's edits.
    function fill(name, notice) {
        _filling = true
        if (name !== undefined)
            nameField.text = name
        if (notice !== undefined)
            noticeArea.text = notice
        _filling = false
    }
    function roleLabel(role) {
        return I18n.tr(role === "owner" ? "role.owner" : (role === "admin" ? "role.admin" : "role.member"))
    }

    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 16
        y: 12
        width: parent.width - 32
        spacing: 8

        RowLayout {
            spacing: 8
            Text {
                objectName: "sgName"
                Layout.fillWidth: true
                text: card.info.name || ""
                textFormat: Text.PlainText
                elide: Text.ElideRight
                color: "white"
                font.pixelSize: 17
                font.bold: true
            }
            Rectangle {
                Layout.preferredHeight: 22
                Layout.preferredWidth: badge.implicitWidth + 16
                radius: 8
                color: "#26ffffff"
                Text {
                    id: badge
                    objectName: "roleBadge"
                    anchors.centerIn: parent
                    text: card.roleLabel(card.info.myRole)
                    color: card.isManager ? Theme.brandBlue : "#b3ffffff"
                    font.pixelSize: 11
                    font.bold: true
                }
            }
        }
        Text {
            objectName: "sgNotice"
            Layout.fillWidth: true
            visible: !!card.info.notice
            text: card.info.notice || ""
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "#5b616b"
            font.pixelSize: 13
        }
        PaneField {
            id: nameField
            objectName: "sgNameField"
            Layout.fillWidth: true
            implicitHeight: 38
            visible: card.isManager
            font.pixelSize: 13
            placeholderText: I18n.tr("sg.groupName")
            onTextChanged: if (!card._filling) card.nameEdited(text)
        }
        TextArea {
            id: noticeArea
            objectName: "sgNoticeArea"
            Layout.fillWidth: true
            Layout.preferredHeight: 58
            visible: card.isManager
            font.pixelSize: 12
            wrapMode: TextEdit.Wrap
            placeholderText: I18n.tr("sg.notice")
            color: "white"
            placeholderTextColor: "#8cffffff"
            background: Rectangle { radius: 11; color: "#21ffffff" }
            // TextArea has no textEdited signal.
            onTextChanged: if (!card._filling) card.noticeEdited(text)
        }
        RowLayout {
            visible: card.isManager
            Text { Layout.fillWidth: true; text: I18n.tr("sg.visibility"); color: "#b3ffffff"; font.pixelSize: 12 }
            StoredSwitch { id: sgJoinOpen; objectName: "sgJoinOpen"; stored: card.joinOpen }
        }
        RowLayout {
            visible: card.isManager
            Text { Layout.fillWidth: true; text: I18n.tr("sg.muteAll"); color: "#b3ffffff"; font.pixelSize: 12 }
            StoredSwitch {
                id: allMutedSwitch
                objectName: "allMutedSwitch"
                stored: card.info.allMuted === true
                onRequested: (on) => card.allMutedRequested(on)
            }
        }
        PaneBtn {
            objectName: "saveMetaButton"
            Layout.fillWidth: true
            visible: card.isManager
            label: I18n.tr("sg.saveSettings")
            enabled: !card.busy
            onClicked: card.saveClicked(sgJoinOpen.checked)
        }
        RowLayout {
            spacing: 14
            Text {
                objectName: "joinModeLine"
                text: I18n.tr("sg.joinMode", { "mode": I18n.tr(card.joinOpen ? "sg.joinOpen" : "sg.joinInvite") })
                color: "#8cffffff"
                font.pixelSize: 12
            }
            Text {
                objectName: "allMutedNote"
                visible: card.info.allMuted === true
                text: I18n.tr("sg.allMutedOn")
                color: "#ff9500"
                font.pixelSize: 12
            }
        }
    }
}
