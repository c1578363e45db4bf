import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor
import "voice"

// The voice room of the shown super group on a dark glass card: header,
// speakers and listeners, the opener's grant / revoke gestures, devices,
// microphone and the exit. Everything shown is VoiceRoom's; every action is
// one of its calls.
Popup {
    id: popup

    // The listener search; kept while the popup is closed and reopened.
    property string listenerQuery: ""
    // An exit was confirmed: the card stays shaded until the controller is
    // done, and closes only when the user is out of the room.
    property bool exiting: false
    readonly property bool dissolves: VoiceRoom.amOpener || VoiceRoom.isOwner
    readonly property bool shaded: VoiceRoom.busy || exiting
    property int bannerFrame: 0

    function filteredListeners() {
        var source = VoiceRoom.listeners ? VoiceRoom.listeners : []
        var needle = listenerQuery.trim().toLowerCase()
        if (needle === "")
            return source
        return source.filter(function (m) {
            var hay = [m.name || "", m.address || "", m.pubkey || ""].join(" ").toLowerCase()
            return hay.indexOf(needle) !== -1
        })
    }

    function revokeIfAllowed(member) {
        if (!VoiceRoom.amOpener || !member || member.self === true || member.pubkey === VoiceRoom.ownerPubkey)
            return
        VoiceRoom.revokeSpeaker(member.pubkey)
    }

    function grantIfAllowed(member) {
        if (VoiceRoom.amOpener && member && !(member.self === true))
            VoiceRoom.grantSpeaker(member.pubkey)
    }

    // Leaves the room, or dissolves it for its opener or the group's owner.
    function exitRoom() {
        exiting = true
        if (dissolves)
            VoiceRoom.dissolveRoom()
        else
            VoiceRoom.leaveRoom()
        finishExit()
    }

    function finishExit() {
        if (!exiting || VoiceRoom.busy)
            return
        exiting = false
        // A refused dissolve leaves the user in the room: the card stays
        // with the controller's error above the control bar.
        if (!VoiceRoom.activeForVisible)
            close()
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    padding: 0
    width: parent ? Math.min(720, parent.width - 80) : 720
    height: parent ? Math.min(640, parent.height - 70) : 640
    closePolicy: shaded ? Popup.NoAutoClose : Popup.CloseOnEscape

    T.Overlay.modal: Rectangle { color: "#a6000000" }

    background: Rectangle {
        radius: 24
        border.width: 1
        border.color: "#33ffffff"
        gradient: Gradient {
            GradientStop { position: 0; color: "#1b1e33" }
            GradientStop { position: 1; color: "#2a2447" }
        }
    }

    Connections {
        target: VoiceRoom
        function onStateChanged() { popup.finishExit() }
        function onRoomClosedRemotely() {
            popup.exiting = false
            popup.close()
        }
    }
    FrameStepper {
        objectName: "bannerStepper"
        period: 40
        running: popup.visible
        onStepped: popup.bannerFrame = (popup.bannerFrame + 1) % 55
    }

    contentItem: Item {
        Row {
            id: header
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.leftMargin: 18
            anchors.rightMargin: 14
            anchors.topMargin: 18
            spacing: 12

            Item {
                width: 34
                height: 34
                anchors.verticalCenter: parent.verticalCenter
                Image {
                    anchors.centerIn: parent
                    width: 64
                    height: 64
                    sourceSize: Qt.size(128, 128)
                    fillMode: Image.PreserveAspectFit
                    source: "../../assets/chatroom_frames/f" + popup.bannerFrame + ".svg"
                }
            }
            Column {
                anchors.verticalCenter: parent.verticalCenter
                width: header.width - 34 - 32 - 24
                spacing: 2
                Text {
                    objectName: "roomTitle"
                    width: parent.width
                    text: VoiceRoom.roomGroupTitle !== "" ? VoiceRoom.roomGroupTitle : I18n.tr("voice.room")
                    textFormat: Text.PlainText
                    color: "white"
                    font.pixelSize: 16
                    font.bold: true
                    elide: Text.ElideRight
                }
                Row {
                    spacing: 6
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 7
                        height: 7
                        radius: 3.5
                        color: VoiceRoom.activeForVisible ? "#39c878" : "#8cffffff"
                    }
                    Text {
                        objectName: "connectionLine"
                        text: VoiceRoom.connectionText !== "" ? I18n.said(VoiceRoom.connectionText) : I18n.tr("common.connecting")
                        textFormat: Text.PlainText
                        color: "#8cffffff"
                        font.pixelSize: 11
                    }
                }
            }
            Rectangle {
                objectName: "minimiseButton"
                anchors.verticalCenter: parent.verticalCenter
                width: 32
                height: 32
                radius: 16
                color: minMouse.containsMouse ? "#33ffffff" : "#21ffffff"
                TgIcon { anchors.centerIn: parent; name: "arrow_down"; size: 15; color: "white" }
                MouseArea {
                    id: minMouse
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: popup.close()
                }
            }
        }

        Flickable {
            id: membersArea
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: header.bottom
            anchors.topMargin: 10
            anchors.bottom: controlBar.top
            anchors.bottomMargin: 8
            clip: true
            contentWidth: width
            contentHeight: body.implicitHeight + 20
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: TgScrollBar { }

            Column {
                id: body
                width: membersArea.width
                spacing: 16

                Text {
                    objectName: "speakerCount"
                    x: 24
                    topPadding: 8
                    text: I18n.tr("voice.speakers", { "n": VoiceRoom.speakers ? VoiceRoom.speakers.length : 0 })
                    color: "#b3ffffff"
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                }
                Flow {
                    x: 20
                    width: parent.width - 40
                    spacing: 18
                    Repeater {
                        objectName: "speakerRepeater"
                        model: VoiceRoom.speakers ? VoiceRoom.speakers : []
                        VoiceMember {
                            required property var modelData
                            member: modelData
                            ownerPubkey: VoiceRoom.ownerPubkey
                            running: popup.visible
                            onGesture: popup.revokeIfAllowed(modelData)
                        }
                    }
                }
                Rectangle {
                    x: 22
                    width: parent.width - 44
                    height: 1
                    color: "#1fffffff"
                }
                Item {
                    x: 24
                    width: parent.width - 46
                    height: Math.max(listenerCount.implicitHeight, searchField.visible ? 32 : 0)
                    Text {
                        id: listenerCount
                        objectName: "listenerCount"
                        anchors.verticalCenter: parent.verticalCenter
                        text: I18n.tr("voice.listeners", { "n": VoiceRoom.listeners ? VoiceRoom.listeners.length : 0 })
                        color: "#b3ffffff"
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                    }
                    PaneField {
                        id: searchField
                        objectName: "listenerSearch"
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        visible: VoiceRoom.amOpener
                        width: 200
                        height: 32
                        implicitHeight: 32
                        placeholderText: I18n.tr("voice.searchListeners")
                        text: popup.listenerQuery
                        onTextChanged: popup.listenerQuery = text
                    }
                }
                Flow {
                    x: 20
                    width: parent.width - 40
                    spacing: 16
                    Repeater {
                        objectName: "listenerRepeater"
                        model: popup.filteredListeners()
                        VoiceMember {
                            required property var modelData
                            member: modelData
                            listener: true
                            ownerPubkey: VoiceRoom.ownerPubkey
                            running: popup.visible
                            onGesture: popup.grantIfAllowed(modelData)
                        }
                    }
                }
                Text {
                    x: 22
                    width: parent.width - 44
                    visible: VoiceRoom.amOpener
                    text: I18n.tr("voice.hint")
                    color: "#59ffffff"
                    font.pixelSize: 10
                    wrapMode: Text.Wrap
                }
            }
        }

        Text {
            objectName: "roomError"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 22
            anchors.rightMargin: 22
            anchors.bottom: controlBar.top
            anchors.bottomMargin: 4
            visible: VoiceRoom.lastError !== ""
            text: I18n.said(VoiceRoom.lastError)
            textFormat: Text.PlainText
            color: "#ffb0a8"
            font.pixelSize: 11
            wrapMode: Text.Wrap
        }

        VoiceControlBar {
            id: controlBar
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            inputDevices: VoiceRoom.inputDevices ? VoiceRoom.inputDevices : []
            outputDevices: VoiceRoom.outputDevices ? VoiceRoom.outputDevices : []
            canPublish: VoiceRoom.canPublish
            micEnabled: VoiceRoom.micEnabled
            dissolves: popup.dissolves
            onInputPicked: (id) => VoiceRoom.selectInputDevice(id)
            onOutputPicked: (id) => VoiceRoom.selectOutputDevice(id)
            onMicToggled: VoiceRoom.setMicEnabled(!VoiceRoom.micEnabled)
            onExitClicked: voiceExitConfirm.open()
        }

        Rectangle {
            objectName: "busyShade"
            anchors.fill: parent
            radius: 24
            color: "#88000000"
            visible: popup.shaded
            BusyIndicator {
                anchors.centerIn: parent
                running: popup.shaded
            }
            // Swallows clicks while a request runs.
            MouseArea { anchors.fill: parent; acceptedButtons: Qt.AllButtons }
        }
    }

    VoiceExitConfirm {
        id: voiceExitConfirm
        objectName: "voiceExitConfirm"
        dissolves: popup.dissolves
        onConfirmed: popup.exitRoom()
    }
}
