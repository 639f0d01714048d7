import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// A percent setting, App.preferences[key], after its switch (`on`); the
// spin box is named after the key.
RowLayout {
    property string key
    property string label
    property bool on: true
    spacing: 12
    Layout.fillWidth: true
    enabled: on
    Text {
        text: parent.label
        font: Theme.body
        color: enabled ? Theme.primary : Theme.tertiary
    }
    SpinBox {
        objectName: parent.key
        Accessible.name: parent.label
        from: 1
        to: 100
        editable: true
        value: App.preferences[parent.key]
        onValueModified: App.preferences[parent.key] = value
    }
    Text {
        text: "%"
        font: Theme.body
        color: enabled ? Theme.primary : Theme.tertiary
        Layout.fillWidth: true
    }
}
