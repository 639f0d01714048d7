import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// An open row's lower part: Clear, Mute Project, Remove Session, and the
// session's activity log.
Column {
    id: section

    // The row it belongs to (SessionRow): its index and model.
    required property var row

    Item {
        width: parent.width
        height: actions.implicitHeight
        Rectangle {
            x: 16
            width: parent.width - 32
            height: 1
            anchors.verticalCenter: parent.verticalCenter
            color: Theme.separator
        }
        Rectangle {
            anchors.centerIn: parent
            width: actions.implicitWidth + 16
            height: actions.implicitHeight
            color: Theme.controlBackground
            Row {
                id: actions
                anchors.centerIn: parent
                spacing: 12
                AccessoryButton {
                    objectName: "clearButton"
                    text: "Clear"
                    iconName: "trash"
                    onClicked: App.sessions.clearLog(section.row.rowIndex)
                }
                AccessoryButton {
                    objectName: "muteButton"
                    text: section.row.rowModel.muted ? "Unmute Project" : "Mute Project"
                    iconName: section.row.rowModel.muted ? "bell" : "bell-slash"
                    onClicked: section.row.rowModel.muted = !section.row.rowModel.muted
                }
                AccessoryButton {
                    objectName: "removeButton"
                    text: "Remove Session"
                    iconName: "minus-circle"
                    onClicked: App.sessions.remove(section.row.rowIndex)
                }
            }
        }
    }

    ListView {
        id: log
        objectName: "activityLog"
        width: parent.width
        height: Math.min(contentHeight, 300)
        model: App.sessions.activityLog(section.row.rowIndex)
        clip: true
        spacing: 4
        boundsBehavior: Flickable.StopAtBounds
        header: Item { height: 16 }
        footer: Item { height: 16 }
        ScrollBar.vertical: ScrollBar { policy: log.contentHeight > log.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded }
        delegate: ActivityEventRow {
            x: 16
            width: log.width - 32
        }
    }
}
