import QtQuick
import QtQuick.Layouts
import Velmor
import "login"

// The signed-out window: a rounded violet card with the animated logo on the
// left and, on the right, the three ways to sign in (a pasted private key, a
// 12-word recovery phrase, a new identity). Progress, errors and the switch to
// the home view come from App; the view keeps only the mode and what is typed.
// Its colours are fixed, so it looks the same in either theme. What the first
// frame does not show (the phrase cells, the busy cover) is loaded when first
// needed, with the controls module its parts use.
Rectangle {
    id: login

    property bool mnemonicMode: false
    readonly property bool mnemonicComplete: mnemGrid.item !== null && mnemGrid.item.complete
    // The tagline's centre line in the card (the panel fills the card's height).
    readonly property real taglineCenterY: login.height / 2 + visualPanel.taglineOffset

    // The items whose rectangles the drag layer leaves to the controls.
    function interactiveItems() {
        return [keyField, keyLink, mnemGrid, mnemLink, loginBtn, genBtn, trafficLights, identityNotice.button]
    }

    function mnemonicText() {
        return mnemGrid.item ? mnemGrid.item.phraseText() : ""
    }

    function recheckMnemonic() {
        if (mnemGrid.item)
            mnemGrid.item.recheck()
    }

    function distributeWords(startIdx, raw) {
        if (mnemGrid.item)
            mnemGrid.item.distributeWords(startIdx, raw)
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

        // The saved identity could not be read: the form waits behind the
        // notice until the user has read it.
        IdentityNotice {
            id: identityNotice
            objectName: "identityNotice"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 36
            visible: App.identityNotice !== ""
            text: I18n.said(App.identityNotice)
            onVisibleChanged: if (visible) button.forceActiveFocus()
            onDismissed: App.dismissIdentityNotice()
        }

        ColumnLayout {
            id: form
            visible: !identityNotice.visible
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
                text: I18n.tr("login.title")
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

                    KeyField {
                        id: keyField
                        objectName: "keyField"
                        Layout.fillWidth: true
                        placeholderText: I18n.tr("login.privateKey")
                        enabled: !App.busy
                        color: "white"
                        placeholderTextColor: "#66ffffff"
                    }

                    LinkText {
                        id: mnemLink
                        objectName: "mnemLink"
                        text: I18n.tr("login.mnemonic")
                        onActivated: login.mnemonicMode = true
                    }
                }

                TextInput {
                    id: cellProbe
                    visible: false
                    font.pixelSize: 12
                    topPadding: 10
                    bottomPadding: 10
                }

                ColumnLayout {
                    id: mnemModeCol
                    anchors.top: parent.top
                    anchors.left: parent.left
                    anchors.right: parent.right
                    spacing: 8
                    visible: login.mnemonicMode

                    // The twelve cells come with the first switch to this
                    // mode and stay (PhraseGrid.qml, objectName "mnemGrid").
                    Loader {
                        id: mnemGrid
                        Layout.fillWidth: true
                        // Until then their place is kept: four rows of cells
                        // as tall as a line of the cells' font and padding.
                        Layout.preferredHeight: item ? -1 : 4 * cellProbe.implicitHeight + 3 * 8
                        active: false
                        source: "login/PhraseGrid.qml"
                        enabled: !App.busy
                        onLoaded: item.objectName = "mnemGrid"
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
                label: App.busy ? I18n.tr("login.signingIn") : I18n.tr(login.mnemonicMode ? "login.withPhrase" : "login.withKey")
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
                    text: I18n.tr("login.or")
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

    // Made with the first sign-in and kept (BusyCover.qml, objectName
    // "busyOverlay").
    Loader {
        id: busyCover
        z: 190000
        anchors.fill: parent
        active: false
        source: "login/BusyCover.qml"
        onLoaded: {
            item.objectName = "busyOverlay"
            item.running = Qt.binding(function () { return App.busy })
            // While the store cannot be opened the notice bar names the
            // problem in the interface's language; the cover only waits.
            item.status = Qt.binding(function () {
                return App.storeProblem !== "" ? I18n.tr("store.waiting") : I18n.said(App.statusText)
            })
        }
    }

    LoginToast {
        id: toast
        objectName: "toast"
        z: 200000
        maxWidth: login.width - 120
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 44
    }

    onMnemonicModeChanged: {
        if (mnemonicMode)
            mnemGrid.active = true
    }

    Component.onCompleted: {
        if (identityNotice.visible)
            identityNotice.button.forceActiveFocus()
        if (mnemonicMode)
            mnemGrid.active = true
        if (App.busy)
            busyCover.active = true
        // A sign-in that failed before this view was made (the automatic
        // one at start, answered while the view was still being built) is
        // told as one that fails later.
        if (App.errorText.length > 0)
            toast.show(I18n.said(App.errorText))
    }

    Connections {
        target: App

        function onBusyChanged() {
            if (App.busy)
                busyCover.active = true
        }

        // The controller assigns the error text at every attempt (empty first,
        // then the reason), so the same reason twice shows the toast twice.
        function onErrorTextChanged() {
            if (App.errorText.length > 0)
                toast.show(I18n.said(App.errorText))
        }
    }
}
