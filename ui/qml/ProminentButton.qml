import QtQuick
import QtQuick.Controls

// The default action of a window: filled with the accent colour while
// enabled, a plain button while not.
Button {
    id: control

    leftPadding: 14
    rightPadding: 14
    topPadding: 5
    bottomPadding: 5
    palette.buttonText: enabled ? Theme.onAccent : Theme.tertiary

    background: Rectangle {
        implicitWidth: 80
        implicitHeight: 24
        radius: 3
        color: !control.enabled ? Theme.fill
             : control.down ? Qt.darker(Theme.accent, 1.15)
             : control.hovered ? Qt.lighter(Theme.accent, 1.08)
             : Theme.accent
        border.color: control.enabled ? Qt.darker(Theme.accent, 1.2) : Theme.separator
    }
}
