import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import "login"

// The signed-out window: a rounded violet card with the animated logo on the
// left and, on the right, the three ways to sign in (a pasted private key, a
// 12-word recovery phrase, a new identity). Progress, errors and the switch to
// the home view come from App; the view keeps only the mode and what is typed.
// Its colours are fixed, so it looks the same in either theme.
Rectangle {
    id: login

    property bool mnemonicMode: false
    readonly property bool mnemonicComplete: mnemGrid.complete
    // The tagline's centre line in the card (the panel fills the card's height).
    readonly property real taglineCenterY: login.height / 2 + visualPanel.taglineOffset

    // The items whose rectangles the drag layer leaves to the controls.
    function interactiveItems() {
        return [keyField, keyLink, mnemGrid, mnemLink, loginBtn, genBtn, trafficLights]
    }

    function mnemonicText() {
        return mnemGrid.phraseText()
    }

    function recheckMnemonic() {
        mnemGrid.recheck()
    }

    function distributeWords(startIdx, raw) {
        mnemGrid.distributeWords(startIdx, raw)
    }

    function signIn() {
        if (!loginBtn.enabled)
            return
        if (mnemonicMode)
            App.importMnemonicAndLogin(mnemonicText())
        else
            App.importAndLogin(keyField.text)
    }

    radius: 30
    border.color: "#33ffffff"
    border.width: 1
    gradient: Gradient {
        GradientStop { position: 0.0; color: "#3f4475" }
        GradientStop { position: 1.0; color: "#8c72a2" }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        VisualPanel {
            id: visualPanel
            Layout.preferredWidth: login.width * 0.52
            Layout.fillHeight: true
        }

        ColumnLayout {
            id: form
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 36
            spacing: 14

            Text {
                text: I18n.tr("app.name")
                color: "#ffffff"
                font.pixelSize: 22
                font.weight: Font.Bold
            }

            Text {
                text: "登录 / 生成身份"
                color: "#b3ffffff"
                font.pixelSize: 13
            }

            // As tall as the phrase column in both modes, so a mode switch
            // never moves what lies below.
            Item {
                id: modeContainer
                Layout.fillWidth: true
                Layout.preferredHeight: mnemModeCol.implicitHeight
                Layout.minimumHeight: mnemModeCol.implicitHeight

                ColumnLayout {
                    anchors.top: parent.top
                    anchors.left: parent.left
                    anchors.right: parent.right
                    spacing: 8
                    visible: !login.mnemonicMode

                    TextField {
                        id: keyField
                        objectName: "keyField"
                        Layout.fillWidth: true
                        placeholderText: I18n.tr("login.privateKey")
                        enabled: !App.busy
                        selectByMouse: true
                        color: "white"
                        placeholderTextColor: "#66ffffff"
                        padding: 12
                        background: Rectangle {
                            radius: 14
                            color: "#14ffffff"
                            border.width: 1
                            border.color: keyField.activeFocus ? "#66ffffff" : "#26ffffff"
                        }
                    }

                    LinkText {
                        id: mnemLink
                        objectName: "mnemLink"
                        text: I18n.tr("login.mnemonic")
                        onActivated: login.mnemonicMode = true
                    }
                }

                ColumnLayout {
                    id: mnemModeCol
                    anchors.top: parent.top
                    anchors.left: parent.left
                    anchors.right: parent.right
                    spacing: 8
                    visible: login.mnemonicMode

                    PhraseGrid {
                        id: mnemGrid
                        objectName: "mnemGrid"
                        Layout.fillWidth: true
                        enabled: !App.busy
                    }

                    LinkText {
                        id: keyLink
                        objectName: "keyLink"
                        text: I18n.tr("login.importKey")
                        onActivated: login.mnemonicMode = false
                    }
                }
            }

            Item {
                Layout.fillHeight: true
            }

            LoginBtn {
                id: loginBtn
                objectName: "loginBtn"
                Layout.fillWidth: true
                primary: true
                enabled: !App.busy && (login.mnemonicMode ? login.mnemonicComplete
                                                          : keyField.text.trim().length > 0)
                label: App.busy ? "登录中…" : (login.mnemonicMode ? "用助记词登录" : "用私钥登录")
                onClicked: login.signIn()
            }

            RowLayout {
                id: orRow
                objectName: "orRow"
                Layout.fillWidth: true

                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 1
                    color: "#33ffffff"
                }

                Text {
                    text: "或"
                    color: "#b3ffffff"
                    font.pixelSize: 12
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 1
                    color: "#33ffffff"
                }
            }

            LoginBtn {
                id: genBtn
                objectName: "genBtn"
                Layout.fillWidth: true
                enabled: !App.busy
                label: I18n.tr("login.create")
                onClicked: App.generateAndLogin()
            }

            // Lifts the button block so the divider's centre lies level with
            // the tagline's centre on the left; 0 when the form is too tall.
            Item {
                Layout.preferredHeight: Math.max(0, (login.height - 36) - login.taglineCenterY
                                                    - orRow.implicitHeight / 2 - 14 - genBtn.implicitHeight - 14)
            }
        }
    }

    WindowDots {
        id: trafficLights
        objectName: "trafficLights"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.topMargin: 18
        anchors.leftMargin: 18
        onCloseClicked: Qt.quit()
        onMinimizeClicked: login.Window.window.showMinimized()
    }

    WindowDragLayer {
        objectName: "dragLayer"
        z: 100000
        anchors.fill: parent
        interactiveItems: login.interactiveItems()
    }

    BusyCover {
        objectName: "busyOverlay"
        z: 190000
        anchors.fill: parent
        running: App.busy
        status: App.statusText
    }

    LoginToast {
        id: toast
        objectName: "toast"
        z: 200000
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 44
    }

    Connections {
        target: App

        // The controller assigns the error text at every attempt (empty first,
        // then the reason), so the same reason twice shows the toast twice.
        function onErrorTextChanged() {
            if (App.errorText.length > 0)
                toast.show(App.errorText)
        }
    }
}
