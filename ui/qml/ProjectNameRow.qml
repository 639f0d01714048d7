import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// One project directory of the General tab: its name as being edited, the
// path under it, and a button that empties the name.
RowLayout {
    id: row

    required property int index
    required property string path
    required property string name

    spacing: 12

    ColumnLayout {
        spacing: 2
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignVCenter

        TextField {
            objectName: "nameField"
            Accessible.name: "Custom name"
            placeholderText: "Enter custom name"
            font: Theme.body
            text: row.name
            selectByMouse: true
            Layout.fillWidth: true
            onTextEdited: App.projectNames.setName(row.index, text)
        }
        Text {
            objectName: "pathLabel"
            text: row.path
            textFormat: Text.PlainText
            font: Theme.caption
            color: Theme.secondary
            elide: Text.ElideMiddle
            maximumLineCount: 1
            Layout.fillWidth: true
        }
    }

    AbstractButton {
        id: clearButton
        objectName: "clearNameButton"
        Accessible.name: "Clear name"
        visible: row.name.length > 0
        hoverEnabled: true
        implicitWidth: 16
        implicitHeight: 16
        Layout.alignment: Qt.AlignVCenter
        contentItem: Icon {
            name: "xmark-circle-fill"
            size: 16
            color: clearButton.hovered ? Theme.primary : Theme.secondary
            opacity: clearButton.pressed ? 0.6 : 1.0
        }
        background: null
        onClicked: App.projectNames.clearName(row.index)
    }
}
