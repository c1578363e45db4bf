import QtQuick
import QtQuick.Templates as T

// Whether the window's overlay shows a popup (see HomeView._popupShown).
Item {
    readonly property bool popupShown: T.Overlay.overlay !== null && T.Overlay.overlay.visible
}
