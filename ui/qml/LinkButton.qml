import QtQuick
import QtQuick.Controls

// A button without chrome: accent-coloured text, optionally with a symbol.
AbstractButton {
    id: button

    property string iconName
    property color color: Theme.accent

    font: Theme.caption
    implicitWidth: row.implicitWidth
    implicitHeight: row.implicitHeight
    hoverEnabled: true

    contentItem: Row {
        id: row
        spacing: 4
        Icon {
            visible: button.iconName.length > 0
            name: button.iconName
            color: button.color
            size: label.font.pixelSize > 0 ? label.font.pixelSize : label.implicitHeight * 0.8
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            id: label
            text: button.text
            font: button.font
            color: button.color
            opacity: button.pressed ? 0.6 : 1.0
            textFormat: Text.PlainText
        }
    }
    background: null

    HoverHandler { cursorShape: Qt.PointingHandCursor }
}
