import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// The Push tab: pushes to the phone through an ntfy server — the switch, the
// server and topic, the token (kept in the keyring, never shown again), the
// minutes after which a waiting request is pushed anyway, a test push and
// what the server said last.
Item {
    id: view

    readonly property var push: App.push
    readonly property string addressProblem: view.push.addressProblem(App.preferences.pushServer,
                                                                      App.preferences.pushTopic)

    // A line of what the server or the keyring said: untrusted, plain text.
    component StatusLine: Text {
        textFormat: Text.PlainText
        font: Theme.caption
        wrapMode: Text.Wrap
        visible: text.length > 0
        Layout.fillWidth: true
    }

    Flickable {
        id: scroll
        anchors.fill: parent
        contentWidth: width
        contentHeight: sections.implicitHeight + 40
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            policy: ScrollBar.AlwaysOn
            visible: scroll.contentHeight > scroll.height
        }

        ColumnLayout {
            id: sections
            x: 20
            y: 20
            width: scroll.width - 40
            spacing: 8

            Text {
                text: "Push to Your Phone"
                font: Theme.headline
                color: Theme.primary
            }
            Text {
                text: view.push.introduction
                textFormat: Text.PlainText
                font: Theme.callout
                color: Theme.secondary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: form.implicitHeight + 24
                radius: 6
                color: Theme.fill
                border.color: Theme.separator

                GridLayout {
                    id: form
                    x: 12
                    y: 12
                    width: parent.width - 24
                    columns: 2
                    columnSpacing: 12
                    rowSpacing: 8

                    Label {
                        text: "Send pushes"
                        font: Theme.body
                    }
                    Switch {
                        objectName: "pushEnabled"
                        Accessible.name: "Send pushes"
                        padding: 0
                        checked: App.preferences.pushEnabled
                        onToggled: App.preferences.pushEnabled = checked
                    }
                    Label {
                        text: "Server"
                        font: Theme.body
                    }
                    TextField {
                        objectName: "pushServer"
                        Accessible.name: "Push server"
                        placeholderText: "https://ntfy.example.org"
                        text: App.preferences.pushServer
                        selectByMouse: true
                        Layout.fillWidth: true
                        onEditingFinished: App.preferences.pushServer = text.trim()
                    }
                    Label {
                        text: "Topic"
                        font: Theme.body
                    }
                    TextField {
                        objectName: "pushTopic"
                        Accessible.name: "Push topic"
                        placeholderText: "a-hard-to-guess-name"
                        text: App.preferences.pushTopic
                        selectByMouse: true
                        Layout.fillWidth: true
                        onEditingFinished: App.preferences.pushTopic = text.trim()
                    }
                    Label {
                        text: "Token"
                        font: Theme.body
                    }
                    RowLayout {
                        spacing: 8
                        Layout.fillWidth: true
                        TextField {
                            id: tokenField
                            objectName: "pushToken"
                            Accessible.name: "Access token"
                            placeholderText: "kept in the keyring"
                            echoMode: TextInput.Password
                            Layout.fillWidth: true
                            onAccepted: saveToken.clicked()
                        }
                        Button {
                            id: saveToken
                            objectName: "saveTokenButton"
                            text: "Save"
                            enabled: tokenField.text.length > 0
                            onClicked: {
                                view.push.saveToken(tokenField.text)
                                tokenField.clear()
                            }
                        }
                        Button {
                            objectName: "removeTokenButton"
                            text: "Remove"
                            onClicked: view.push.removeToken()
                        }
                    }
                    Label {
                        text: "Requests after"
                        font: Theme.body
                    }
                    RowLayout {
                        spacing: 8
                        SpinBox {
                            objectName: "pushAfterMinutes"
                            Accessible.name: "Minutes before a waiting request is pushed"
                            from: 1
                            to: 60
                            editable: true
                            value: App.preferences.pushAfterMinutes
                            onValueModified: App.preferences.pushAfterMinutes = value
                        }
                        Label {
                            text: "minutes, even at the desk"
                            font: Theme.body
                        }
                    }
                }
            }
            StatusLine {
                objectName: "pushAddressProblem"
                text: view.addressProblem
                color: Theme.secondary
            }
            StatusLine {
                objectName: "pushTokenStatus"
                text: view.push.tokenStatus
                color: Theme.secondary
            }
            Button {
                objectName: "sendTestPushButton"
                text: "Send Test Push"
                enabled: view.addressProblem.length === 0
                leftPadding: 12
                rightPadding: 12
                onClicked: view.push.sendTest()
            }
            StatusLine {
                objectName: "pushLastSuccess"
                text: view.push.lastSuccess
                color: Theme.primary
            }
            StatusLine {
                objectName: "pushLastError"
                text: view.push.lastError
                color: Theme.secondary
            }
            StatusLine {
                objectName: "pushDropped"
                text: view.push.dropped
                color: Theme.secondary
            }
        }
    }
}
