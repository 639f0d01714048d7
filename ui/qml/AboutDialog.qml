import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Tolvo

// Help > About Tolvo.
ThemedWindow {
    id: dialog

    title: "About Tolvo"
    flags: Qt.Dialog
    width: 320
    height: content.implicitHeight + 48
    minimumWidth: width
    maximumWidth: width

    Shortcut {
        sequences: [StandardKey.Cancel, StandardKey.Close]
        onActivated: dialog.close()
    }

    ColumnLayout {
        id: content
        x: 24
        y: 24
        width: dialog.width - 48
        spacing: 6

        Image {
            source: "qrc:/TolvoLogo.svg"
            sourceSize: Qt.size(192, 192)
            fillMode: Image.PreserveAspectFit
            Layout.preferredWidth: 96
            Layout.preferredHeight: 96
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 6
        }
        Text {
            text: "Tolvo"
            font: Theme.withWeight(Theme.title2, Font.DemiBold)
            color: Theme.primary
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            objectName: "versionText"
            text: "Version " + App.version
            textFormat: Text.PlainText
            font: Theme.callout
            color: Theme.secondary
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            text: "Shows every Claude Code session on this machine in one window."
            font: Theme.callout
            color: Theme.primary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.topMargin: 6
        }
        Button {
            text: "OK"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 12
            onClicked: dialog.close()
        }
    }
}
