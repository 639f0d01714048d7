import QtQuick
import QtQuick.Layouts

// Shown once events have arrived but no instance is listed.
Item {
    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width - 40
        spacing: 16

        Icon {
            name: "terminal-fill"
            size: 56
            color: Theme.quaternary
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            text: "No Claude Code sessions running"
            font: Theme.title3
            color: Theme.secondary
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            text: "Sessions will appear here when Claude Code sends events"
            font: Theme.callout
            color: Theme.secondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
