pragma Singleton
import QtQuick

// Logical asset ids to resource paths. The paths are relative to the
// module's document folder, so they resolve wherever a document of this
// module assigns them to a url property.
QtObject {
    readonly property var paths: ({
        "avatar.default.user": "../assets/avatars/defaultheadphoto.png",
        "avatar.default.group": "../assets/avatars/defaultheadphoto.png",
        "identity.verify": "../assets/icons/verify.png"
    })

    function url(logicalId) {
        var p = paths[logicalId]
        return (typeof p === "string") ? p : ""
    }
}
