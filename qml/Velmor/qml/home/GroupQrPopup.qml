import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// The join address of the open normal group as a QR code. Still to be
// filled: interface only.
Popup {
    id: popup

    // "pelorin:group:" + join key, or "" (bound by the home view to
    // groupSettings.info.joinAddress).
    property string joinAddress: ""

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    width: 320
    height: 360
    padding: 22
}
