import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// The switch of one setting, App.preferences[key], with its title and
// what it does. The switch is named after the key.
RowLayout {
    id: toggleRow

    required property string key
    property string title
    property string description

    spacing: 12
    Layout.fillWidth: true

    ColumnLayout {
        spacing: 2
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignTop
        Text {
            text: toggleRow.title
            font: Theme.body
            color: Theme.primary
        }
        Text {
            text: toggleRow.description
            font: Theme.caption
            color: Theme.secondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
    Switch {
        objectName: toggleRow.key
        Accessible.name: toggleRow.title
        padding: 0
        Layout.alignment: Qt.AlignTop
        checked: App.preferences[toggleRow.key]
        onToggled: App.preferences[toggleRow.key] = checked
    }
}
