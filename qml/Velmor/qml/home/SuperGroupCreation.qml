import QtQuick

// The super-group part of the new-group page: free capacity of the group
// centre, tier, name and creation key. Still to be filled: interface only.
Item {
    id: section

    // Set while a capacity request or a creation runs.
    property bool busy: false

    // Clears capacity and creation state and the creation-key field.
    function resetState() {
        busy = false
    }
}
