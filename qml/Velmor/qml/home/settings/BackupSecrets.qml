import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Velmor
import ".."
import "avatarSets.js" as Sets

// The unlocked backup: recovery phrase (when there is one) and private key.
// The owner binds the secrets only while the page is shown and unlocked.
// `themed` draws it with the theme's colours (the profile view's sheet)
// instead of white on the gradient card.
Flickable {
    id: view

    property string mnemonic: ""
    property string privateKey: ""
    property bool themed: false
    // Room kept free at the right for the scroll bar.
    property int gutter: 0

    signal copyMnemonicClicked()
    signal copyKeyClicked()

    readonly property var words: mnemonic.trim() === "" ? [] : mnemonic.trim().split(/\s+/)
    readonly property color labelColor: themed ? Theme.textMuted : "#b3ffffff"
    readonly property color boxColor: themed ? Theme.buttonBg : "#14ffffff"
    readonly property color boxBorder: themed ? Theme.border : "transparent"
    readonly property color strongText: themed ? Theme.textPrimary : "white"

    clip: true
    contentHeight: backupCol.implicitHeight
    ScrollBar.vertical: TgScrollBar {}

    ColumnLayout {
        id: backupCol
        objectName: "backupCol"
        width: Math.min(view.width - view.gutter, 620)
        spacing: 14

        Text {
            Layout.fillWidth: true
            text: I18n.tr("backup.warning")
            color: view.themed ? Theme.danger : "#ffc7c2"
            font.pixelSize: 12
            wrapMode: Text.Wrap
        }

        ColumnLayout {
            objectName: "mnemonicSection"
            visible: view.words.length > 0
            Layout.fillWidth: true
            spacing: 8
            Text { text: I18n.tr("backup.phraseLabel"); color: view.labelColor; font.pixelSize: 11 }
            GridLayout {
                objectName: "wordGrid"
                Layout.fillWidth: true
                columns: 3
                columnSpacing: 8
                rowSpacing: 8
                Repeater {
                    objectName: "wordRepeater"
                    model: view.words
                    Rectangle {
                        objectName: "wordCell" + index
                        Layout.fillWidth: true
                        implicitWidth: 120
                        Layout.preferredHeight: 34
                        radius: 9
                        color: view.boxColor
                        border.width: view.themed ? 1 : 0
                        border.color: view.boxBorder
                        Row {
                            anchors.left: parent.left
                            anchors.leftMargin: 10
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 6
                            Text {
                                width: 14
                                text: index + 1
                                color: view.themed ? Theme.textMuted : "#8cffffff"
                                font.pixelSize: 10
                            }
                            Text {
                                text: modelData
                                textFormat: Text.PlainText
                                color: view.strongText
                                font.pixelSize: 12
                                font.weight: Font.Medium
                            }
                        }
                    }
                }
            }
            PaneBtn {
                objectName: "copyMnemonic"
                Layout.fillWidth: view.themed
                Layout.preferredHeight: 36
                themed: view.themed
                primary: view.themed
                label: I18n.tr("backup.copyPhrase")
                onClicked: view.copyMnemonicClicked()
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            Text { text: I18n.tr("backup.keyLabel"); color: view.labelColor; font.pixelSize: 11 }
            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: pkText.implicitHeight + 22
                radius: 10
                color: view.boxColor
                border.width: view.themed ? 1 : 0
                border.color: view.boxBorder
                // Selectable, so the key can be taken by hand as well.
                TextEdit {
                    id: pkText
                    objectName: "pkText"
                    anchors.fill: parent
                    anchors.margins: 11
                    readOnly: true
                    selectByMouse: true
                    text: view.privateKey
                    textFormat: TextEdit.PlainText
                    color: view.strongText
                    selectionColor: Theme.selectionBg
                    selectedTextColor: Theme.textPrimary
                    font.pixelSize: 12
                    font.family: Sets.monoFamily(Qt.fontFamilies())
                    wrapMode: TextEdit.WrapAnywhere
                }
            }
            PaneBtn {
                objectName: "copyKey"
                Layout.fillWidth: view.themed
                Layout.preferredHeight: 36
                themed: view.themed
                primary: view.themed
                label: I18n.tr("backup.copyKey")
                onClicked: view.copyKeyClicked()
            }
        }
        Item { Layout.preferredHeight: 8 }
    }
}
