import QtQuick
import QtQuick.Window
import QtQuick.Layouts
import Velmor

// Logo and the four page buttons of the sidebar.
RowLayout {
    id: root

    property string mainPane: "chat"
    property int notificationCount: 0

    signal paneRequested(string name)

    spacing: 10

    readonly property url _assets: Qt.resolvedUrl("../../assets/")

    // The card the header lies on: the logo's surface paints the card's
    // part under the logo.
    property Rectangle backdrop: null

    // The logo's 49 frames come from one sheet rasterised beforehand at the
    // size they are drawn from (156 pixels a frame, shown at 78 points): a
    // frame moves the sheet under a clip, so a tick decodes and uploads
    // nothing, and the sheet stays one texture for the life of the view.
    // The logo stands on a small surface of its own over the card: a frame
    // then redraws its 78 x 78 points instead of the whole window. The
    // surface shows the same frame of the same sheet over the card.
    WindowPatch {
        id: logoPatch
        objectName: "sideLogoPatch"
        Layout.preferredWidth: 78
        Layout.preferredHeight: 78
        sheet: root._assets + "logo_sheet_156.png"
        columns: sideLogo.columns
        rows: Math.ceil(sideLogo.frames / sideLogo.columns)
        frame: sideLogo.idx
        backdrop: root.backdrop

        content: Item {
            id: sideLogo
            objectName: "sideLogo"
            property int idx: 0
            readonly property int frames: 49
            readonly property int columns: 7
            width: logoPatch.width
            height: logoPatch.height

            Item {
                anchors.fill: parent
                clip: true
                // Frame 0 alone until the sheet is in: decoding the whole
                // sheet (1092 pixels square) on the window's thread was half
                // of the home view's build after a sign-in.
                Image {
                    objectName: "sideLogoFirst"
                    source: root._assets + "logo_first_156.png"
                    visible: sideLogoSheet.status !== Image.Ready
                    cache: false
                    width: sideLogo.width
                    height: sideLogo.height
                    smooth: true
                }
                // At the size drawn (times the screen's pixel ratio), the
                // same picture as the surface's (see SheetPictureProvider).
                Image {
                    id: sideLogoSheet
                    objectName: "sideLogoSheet"
                    source: "image://sheet/logo_sheet_156.png"
                    asynchronous: true
                    width: sideLogo.width * sideLogo.columns
                    height: sideLogo.height * Math.ceil(sideLogo.frames / sideLogo.columns)
                    sourceSize: Qt.size(width, height)
                    x: -(sideLogo.idx % sideLogo.columns) * sideLogo.width
                    y: -Math.floor(sideLogo.idx / sideLogo.columns) * sideLogo.height
                    smooth: true
                }
            }
        }
    }

    // In the header, not on the logo's surface: it follows this window's
    // activity. Under a popup or a notice the logo waits: each of its frames
    // would redraw the whole window.
    Timer {
        objectName: "logoTimer"
        interval: 16
        repeat: true
        running: root.visible && root.Window.window !== null && root.Window.active && logoPatch.playable
                 && sideLogoSheet.status === Image.Ready
        onTriggered: sideLogo.idx = (sideLogo.idx + 1) % sideLogo.frames
    }

    Item { Layout.fillWidth: true }

    // Plain items, not controls: the header shows in the home view's first
    // frame, which then needs none of the controls' modules. A click or
    // Space on the focused button opens or closes its page; the focus
    // ring shows only when the focus came by keyboard, as a button's does.
    component PageButton: Rectangle {
        id: btn
        property string page
        property string iconName
        property int iconSize: 16
        property bool _focusByPointer: false
        readonly property bool visualFocus: activeFocus && !_focusByPointer
        signal clicked()
        Layout.preferredWidth: 30
        Layout.preferredHeight: 30
        activeFocusOnTab: true
        onActiveFocusChanged: if (!activeFocus) _focusByPointer = false
        Accessible.role: Accessible.Button
        Accessible.name: page
        Accessible.onPressAction: btn.clicked()
        Keys.onSpacePressed: btn.clicked()
        radius: 8
        color: root.mainPane === btn.page ? "#4dffffff" : (pointer.containsMouse ? "#33ffffff" : "#21ffffff")
        // Reached with Tab too: Space on it opens or closes its page.
        border.width: btn.visualFocus ? 2 : 0
        border.color: "#e6ffffff"
        TgIcon {
            anchors.centerIn: parent
            name: btn.iconName
            size: btn.iconSize
            color: "white"
        }
        MouseArea {
            id: pointer
            anchors.fill: parent
            hoverEnabled: true
            onPressed: {
                btn._focusByPointer = true
                btn.forceActiveFocus(Qt.MouseFocusReason)
            }
            onClicked: btn.clicked()
        }
        onClicked: root.paneRequested(page)
    }

    PageButton { objectName: "settingsButton"; page: "settings"; iconName: "settings" }

    Item {
        Layout.preferredWidth: 30
        Layout.preferredHeight: 30
        PageButton {
            objectName: "notificationsButton"
            anchors.fill: parent
            page: "notifications"
            iconName: "unmute"
        }
        Rectangle {
            id: notificationBadge
            objectName: "notificationBadge"
            visible: root.notificationCount > 0
            anchors.top: parent.top
            anchors.right: parent.right
            height: 14
            radius: 7
            width: Math.max(14, badgeText.implicitWidth + 6)
            color: Theme.danger
            Text {
                id: badgeText
                objectName: "notificationBadgeText"
                anchors.centerIn: parent
                text: root.notificationCount > 99 ? "99+" : String(root.notificationCount)
                color: "white"
                font.pixelSize: 8
                font.bold: true
            }
        }
    }

    PageButton { objectName: "newGroupButton"; page: "newGroup"; iconName: "group"; iconSize: 17 }
    PageButton { objectName: "newChatButton"; page: "newChat"; iconName: "edit" }
}
