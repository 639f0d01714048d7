import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The first-run view: what Tolvo is and the way to connect Claude Code.
Rectangle {
    id: welcome

    signal configureRequested()

    color: Theme.windowBackground

    ColumnLayout {
        anchors.top: parent.top
        anchors.topMargin: 60
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width - 40, 440)
        spacing: 40

        ColumnLayout {
            spacing: 20
            Layout.alignment: Qt.AlignHCenter

            Image {
                source: "qrc:/TolvoLogo.svg"
                sourceSize: Qt.size(256, 256)
                Layout.preferredWidth: 128
                Layout.preferredHeight: 128
                fillMode: Image.PreserveAspectFit
                Layout.alignment: Qt.AlignHCenter
            }
            Text {
                text: "Welcome to Tolvo"
                font: Theme.withWeight(Theme.largeTitle, Font.DemiBold)
                color: Theme.primary
                Layout.alignment: Qt.AlignHCenter
            }
            Text {
                text: "Claude Code sessions will automatically appear here."
                font: Theme.title3
                color: Theme.secondary
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                Layout.maximumWidth: 400
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignHCenter
            }
        }

        ColumnLayout {
            spacing: 16
            Layout.alignment: Qt.AlignHCenter

            Text {
                text: "Claude Code must be configured to connect to Tolvo."
                font: Theme.body
                color: Theme.secondary
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                Layout.maximumWidth: welcome.width - 40
                Layout.alignment: Qt.AlignHCenter
            }
            AbstractButton {
                objectName: "configureButton"
                text: "Configure Claude Code"
                Layout.preferredWidth: 200
                Layout.alignment: Qt.AlignHCenter
                implicitHeight: label.implicitHeight + 20
                contentItem: Text {
                    id: label
                    text: parent.text
                    font: Theme.withWeight(Theme.body, Font.Medium)
                    color: "white"
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: 8
                    color: Theme.accent
                    opacity: parent.pressed ? 0.8 : 1.0
                }
                onClicked: welcome.configureRequested()
            }
        }
    }
}
