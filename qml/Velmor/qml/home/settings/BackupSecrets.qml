import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Velmor
import ".."

// The unlocked backup: recovery phrase (when there is one) and private key.
// The owner binds the secrets only while the page is shown and unlocked.
Flickable {
    id: view

    property string mnemonic: ""
    property string privateKey: ""

    signal copyMnemonicClicked()
    signal copyKeyClicked()

    readonly property var words: mnemonic.trim() === "" ? [] : mnemonic.trim().split(/\s+/)

    clip: true
    contentHeight: backupCol.implicitHeight
    ScrollBar.vertical: TgScrollBar {}

    ColumnLayout {
        id: backupCol
        objectName: "backupCol"
        width: Math.min(view.width, 620)
        spacing: 14

        Text {
            Layout.fillWidth: true
            text: "请离线抄写并妥善保管，任何人拿到都能控制你的账户，切勿泄露或截图。"
            color: "#ffc7c2"
            font.pixelSize: 12
            wrapMode: Text.Wrap
        }

        ColumnLayout {
            objectName: "mnemonicSection"
            visible: view.words.length > 0
            Layout.fillWidth: true
            spacing: 8
            Text { text: "助记词（12 词）"; color: "#b3ffffff"; font.pixelSize: 11 }
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
                        color: "#14ffffff"
                        Row {
                            anchors.left: parent.left
                            anchors.leftMargin: 10
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 6
                            Text { width: 14; text: index + 1; color: "#8cffffff"; font.pixelSize: 10 }
                            Text {
                                text: modelData
                                textFormat: Text.PlainText
                                color: "white"
                                font.pixelSize: 12
                                font.weight: Font.Medium
                            }
                        }
                    }
                }
            }
            PaneBtn {
                objectName: "copyMnemonic"
                Layout.preferredHeight: 36
                label: "复制助记词"
                onClicked: view.copyMnemonicClicked()
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8
            Text { text: "私钥（0x 十六进制，钱包通用）"; color: "#b3ffffff"; font.pixelSize: 11 }
            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: pkText.implicitHeight + 22
                radius: 10
                color: "#14ffffff"
                Text {
                    id: pkText
                    objectName: "pkText"
                    anchors.fill: parent
                    anchors.margins: 11
                    text: view.privateKey
                    textFormat: Text.PlainText
                    color: "white"
                    font.pixelSize: 12
                    font.family: "Menlo"
                    wrapMode: Text.WrapAnywhere
                }
            }
            PaneBtn {
                objectName: "copyKey"
                Layout.preferredHeight: 36
                label: "复制私钥"
                onClicked: view.copyKeyClicked()
            }
        }
        Item { Layout.preferredHeight: 8 }
    }
}
