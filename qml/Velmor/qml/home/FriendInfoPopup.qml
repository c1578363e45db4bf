import QtQuick
import Velmor

// The friend information panel of the home view: the module's
// FriendInfoPanel, opened from the chat header after
// Chat.loadCurrentFriendInfo().
FriendInfoPanel { }
