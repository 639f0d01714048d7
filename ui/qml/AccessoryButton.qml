import QtQuick
import QtQuick.Controls

// A small flat button with a symbol and a caption, for action bars.
AbstractButton {
    id: button

    property string iconName

    implicitWidth: row.implicitWidth + 12
    implicitHeight: row.implicitHeight + 6
    hoverEnabled: true

    contentItem: Item {
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 4
            Icon {
                name: button.iconName
                color: Theme.secondary
                size: label.implicitHeight * 0.85
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                id: label
                text: button.text
                font: Theme.caption
                color: Theme.secondary
                textFormat: Text.PlainText
            }
        }
    }
    background: Rectangle {
        radius: 4
        color: button.pressed ? Theme.separator : button.hovered ? Theme.fill : "transparent"
    }
}
