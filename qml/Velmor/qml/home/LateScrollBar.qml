import QtQuick
import QtQuick.Controls.Basic
import Velmor

// A list's scroll bar made after the list: `list` is the Flickable whose
// vertical scroll bar it becomes (the one the attached ScrollBar.vertical
// would have made with the list).
TgScrollBar {
    id: bar

    property Flickable list: null

    onListChanged: {
        if (list === null)
            return
        parent = list
        list.ScrollBar.vertical = bar
    }
}
