import QtQuick
import QtQuick.Controls

// A window's other actions: the shape and size of its default action
// (ProminentButton), on the control colour instead of the accent.
Button {
    id: control

    leftPadding: 14
    rightPadding: 14
    topPadding: 5
    bottomPadding: 5
    palette.buttonText: enabled ? Theme.primary : Theme.tertiary

    background: Rectangle {
        implicitWidth: 80
        implicitHeight: 24
        radius: 3
        color: !control.enabled ? Theme.fill
             : control.down ? Theme.separator
             : control.hovered ? Theme.fill
             : Theme.controlBackground
        border.color: Theme.separator
    }
}
