import QtQuick
import QtQuick.Layouts
import Velmor

// Why the saved identity could not sign in, in full, in place of the
// sign-in form: it stays until the user says it was read, so no new
// identity is made before the user knows the old one is kept aside.
Rectangle {
    id: notice

    property string text: ""
    readonly property alias button: okBtn

    signal dismissed()

    radius: 18
    color: "#3a2f5a"
    border.width: 1
    border.color: "#40ffffff"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 22
        spacing: 14

        Text {
            objectName: "identityNoticeTitle"
            text: I18n.tr("identity.title")
            color: "#ffffff"
            font.pixelSize: 17
            font.weight: Font.Bold
        }
        Flickable {
            id: scroller
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentHeight: body.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            Text {
                id: body
                objectName: "identityNoticeText"
                width: scroller.width
                text: notice.text
                textFormat: Text.PlainText
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                color: "#f2ffffff"
                font.pixelSize: 13
                lineHeight: 1.3
            }
        }
        LoginBtn {
            id: okBtn
            objectName: "identityNoticeOk"
            Layout.fillWidth: true
            primary: true
            label: I18n.tr("identity.ok")
            activeFocusOnTab: true
            border.width: activeFocus ? 2 : 0
            border.color: "#9fa8ff"
            Keys.onReturnPressed: notice.dismissed()
            Keys.onEnterPressed: notice.dismissed()
            Keys.onSpacePressed: notice.dismissed()
            onClicked: notice.dismissed()
        }
    }
}
