import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// The Notifications tab's Quiet group: no notice for the session in front of
// the user, none for short turns, do not disturb, and the muted projects.
ColumnLayout {
    spacing: 8
    Layout.fillWidth: true

    Text {
        text: "Quiet"
        font: Theme.headline
        color: Theme.primary
    }
    Rectangle {
        Layout.fillWidth: true
        implicitHeight: quietRows.implicitHeight + 24
        radius: 6
        color: Theme.fill
        border.color: Theme.separator

        ColumnLayout {
            id: quietRows
            x: 12
            y: 12
            width: parent.width - 24
            spacing: 10

            ToggleRow {
                key: "quietInFront"
                title: "Not for the session in front of you"
                description: "No notification while the session's terminal (and its tmux pane) is the active window"
            }
            Divider {}
            RowLayout {
                spacing: 12
                Layout.fillWidth: true
                Text {
                    text: "Completed only after turns of at least"
                    font: Theme.body
                    color: Theme.primary
                }
                SpinBox {
                    objectName: "completedAfterSeconds"
                    Accessible.name: "Seconds a turn must take to be told"
                    from: 0
                    to: 3600
                    editable: true
                    value: App.preferences.completedAfterSeconds
                    onValueModified: App.preferences.completedAfterSeconds = value
                }
                Text {
                    text: "seconds"
                    font: Theme.body
                    color: Theme.primary
                    Layout.fillWidth: true
                }
            }
            Divider {}
            RowLayout {
                spacing: 12
                Layout.fillWidth: true
                Text {
                    text: "Do not disturb"
                    font: Theme.body
                    color: Theme.primary
                }
                ComboBox {
                    id: quietChoice
                    objectName: "doNotDisturb"
                    Accessible.name: "Do not disturb"
                    textRole: "text"
                    valueRole: "choice"
                    model: [
                        { text: "Off", choice: "off" },
                        { text: "For 1 hour", choice: "hour" },
                        { text: "Until tomorrow", choice: "tomorrow" },
                        { text: "Until I turn it off", choice: "on" }
                    ]
                    currentIndex: App.quiet.doNotDisturb ? -1 : 0
                    displayText: App.quiet.doNotDisturb ? "On" : "Off"
                    onActivated: App.quiet.choose(currentValue)
                }
                Text {
                    text: App.quiet.text
                    textFormat: Text.PlainText
                    font: Theme.caption
                    color: Theme.secondary
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
            }
            Divider {}
            Text {
                text: "Muted projects still show their light; their sessions raise no notifications."
                font: Theme.caption
                color: Theme.secondary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Repeater {
                model: App.sessions.mutedProjects
                delegate: RowLayout {
                    required property string modelData
                    spacing: 12
                    Layout.fillWidth: true
                    Text {
                        text: parent.modelData
                        textFormat: Text.PlainText
                        font: Theme.body
                        color: Theme.primary
                        elide: Text.ElideMiddle
                        Layout.fillWidth: true
                    }
                    Button {
                        objectName: "unmuteButton"
                        text: "Unmute"
                        onClicked: App.sessions.setProjectMuted(parent.modelData, false)
                    }
                }
            }
            ComboBox {
                objectName: "muteProject"
                Accessible.name: "Mute a project"
                Layout.fillWidth: true
                model: App.sessions.knownProjects.filter(
                           p => App.sessions.mutedProjects.indexOf(p) < 0)
                displayText: "Mute a project…"
                enabled: count > 0
                onActivated: index => App.sessions.setProjectMuted(model[index], true)
                // Paths are the user's folders: shown as written, never as markup.
                delegate: ItemDelegate {
                    required property string modelData
                    width: ListView.view ? ListView.view.width : implicitWidth
                    contentItem: Text {
                        text: parent.modelData
                        textFormat: Text.PlainText
                        font: Theme.body
                        color: Theme.primary
                        elide: Text.ElideMiddle
                    }
                }
            }
        }
    }
}
