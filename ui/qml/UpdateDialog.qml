import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Tolvo

// Shows what an update check found: an offer with its three answers, or,
// for a check the user asked for, that Tolvo is up to date or why the check
// failed. It opens when the updater's state leaves Idle and closes when the
// state goes back.
ThemedWindow {
    id: dialog
    objectName: "updateDialog"

    // UpdaterController.State reaches QML as its int value: Idle 0,
    // UpdateAvailable 1, UpToDate 2, CheckFailed 3.
    readonly property int stateIdle: 0
    readonly property int stateUpdateAvailable: 1

    readonly property QtObject updater: App.updater
    readonly property int updaterState: updater.state
    readonly property bool offering: updaterState === stateUpdateAvailable
    readonly property string releaseNotes: offering ? updater.releaseNotesUrl.toString() : ""

    title: offering ? "Software Update" : "Check for Updates"
    flags: Qt.Dialog
    // The height follows the texts; fixing it with size hints would need
    // new hints whenever a message wraps differently.
    width: 460
    height: content.implicitHeight + 40
    minimumWidth: width
    maximumWidth: width
    visible: false

    onUpdaterStateChanged: {
        if (updaterState === stateIdle) {
            hide()
        } else {
            show()
            requestActivate()
        }
    }
    // Closing the window any other way answers the dialog as "not now".
    onClosing: {
        if (updaterState !== stateIdle)
            updater.dismiss()
    }

    Shortcut {
        sequences: [StandardKey.Cancel]
        onActivated: dialog.close()
    }

    RowLayout {
        id: content
        x: 20
        y: 20
        width: dialog.width - 40
        spacing: 16

        Image {
            source: "qrc:/TolvoLogo.svg"
            sourceSize: Qt.size(128, 128)
            fillMode: Image.PreserveAspectFit
            Layout.preferredWidth: 64
            Layout.preferredHeight: 64
            Layout.alignment: Qt.AlignTop
        }

        ColumnLayout {
            spacing: 8
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop

            Text {
                objectName: "updateTitle"
                text: dialog.updater.title
                textFormat: Text.PlainText
                font: Theme.headline
                color: Theme.primary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Text {
                objectName: "updateMessage"
                // Error texts come from the network and the feed.
                text: dialog.updater.message
                textFormat: Text.PlainText
                font: Theme.callout
                color: Theme.secondary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            LinkButton {
                objectName: "releaseNotesLink"
                visible: dialog.releaseNotes.length > 0
                text: "Release Notes"
                font: Theme.callout
                onClicked: App.openUrl(dialog.releaseNotes)
            }

            RowLayout {
                spacing: 8
                Layout.fillWidth: true
                Layout.topMargin: 12

                Button {
                    objectName: "skipButton"
                    visible: dialog.offering
                    text: "Skip This Version"
                    onClicked: dialog.updater.skipThisVersion()
                }
                Item {
                    Layout.fillWidth: true
                }
                Button {
                    objectName: "remindLaterButton"
                    visible: dialog.offering
                    text: "Remind Me Later"
                    onClicked: dialog.updater.remindLater()
                }
                ProminentButton {
                    objectName: "downloadButton"
                    visible: dialog.offering
                    text: "Download"
                    onClicked: dialog.updater.download()
                }
                ProminentButton {
                    objectName: "okButton"
                    visible: !dialog.offering
                    text: "OK"
                    onClicked: dialog.updater.dismiss()
                }
            }
        }
    }
}
