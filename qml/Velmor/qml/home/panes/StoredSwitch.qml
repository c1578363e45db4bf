import QtQuick
import QtQuick.Controls.Basic

// A switch that shows a stored flag. A toggle reports the wish through
// `requested(on)`; the switch goes back to the stored state whenever the
// owner calls resync() (after a reload, or when the change failed).
Switch {
    id: sw

    property bool stored: false

    signal requested(bool on)

    function resync() { checked = stored }

    checked: stored
    onStoredChanged: checked = stored
    onToggled: requested(checked)
}
