import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// The Remote Hosts tab: the machines and containers whose sessions Tolvo
// follows through their relays, each with its connection's state, and the
// form that sets one up (helper, hooks, the host in Tolvo's list) in one step.
Item {
    id: view

    readonly property var remotes: App.remotes

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
            spacing: 20

            ColumnLayout {
                spacing: 8
                Layout.fillWidth: true

                Text {
                    text: "Remote Hosts"
                    font: Theme.headline
                    color: Theme.primary
                }
                Text {
                    text: view.remotes.introduction
                    textFormat: Text.PlainText
                    font: Theme.callout
                    color: Theme.secondary
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
                Rectangle {
                    Layout.fillWidth: true
                    implicitHeight: hostList.implicitHeight + 24
                    radius: 6
                    color: Theme.fill
                    border.color: Theme.separator

                    // Positioners, not layouts: the rows come and go with each
                    // change of a connection's state.
                    Column {
                        id: hostList
                        x: 12
                        y: 12
                        width: parent.width - 24
                        spacing: 10

                        Text {
                            visible: view.remotes.hosts.length === 0
                            text: "No remote hosts yet."
                            font: Theme.body
                            color: Theme.secondary
                        }
                        Repeater {
                            model: view.remotes.hosts
                            delegate: Item {
                                id: hostRow
                                required property var modelData
                                objectName: "host-" + modelData.name
                                width: hostList.width
                                height: Math.max(hostTexts.implicitHeight, removeButton.implicitHeight)

                                Column {
                                    id: hostTexts
                                    spacing: 2
                                    anchors.left: parent.left
                                    anchors.right: removeButton.left
                                    anchors.rightMargin: 12
                                    anchors.verticalCenter: parent.verticalCenter
                                    Text {
                                        text: hostRow.modelData.name
                                        textFormat: Text.PlainText
                                        font: Theme.body
                                        color: Theme.primary
                                    }
                                    Text {
                                        objectName: "hostState"
                                        width: parent.width
                                        text: hostRow.modelData.stateText
                                        textFormat: Text.PlainText
                                        font: Theme.caption
                                        color: Theme.secondary
                                        wrapMode: Text.Wrap
                                    }
                                }
                                Button {
                                    id: removeButton
                                    objectName: "removeHost"
                                    anchors.right: parent.right
                                    anchors.verticalCenter: parent.verticalCenter
                                    text: "Remove"
                                    enabled: !view.remotes.settingUp
                                    Accessible.name: "Remove " + hostRow.modelData.name
                                    onClicked: view.remotes.takeDown(hostRow.modelData.name)
                                }
                            }
                        }
                    }
                }
            }

            ColumnLayout {
                spacing: 8
                Layout.fillWidth: true

                Text {
                    text: "Add a Host"
                    font: Theme.headline
                    color: Theme.primary
                }
                GridLayout {
                    columns: 2
                    columnSpacing: 12
                    rowSpacing: 8
                    Layout.fillWidth: true

                    Label {
                        text: "Name"
                        font: Theme.body
                    }
                    TextField {
                        id: hostName
                        objectName: "hostName"
                        placeholderText: "devbox"
                        Accessible.name: "Host name"
                        Layout.fillWidth: true
                        onAccepted: addButton.clicked()
                    }
                    Label {
                        text: "Reached with"
                        font: Theme.body
                    }
                    TextField {
                        id: hostTransport
                        objectName: "hostTransport"
                        placeholderText: "ssh " + (hostName.text || "devbox")
                        Accessible.name: "Command that reaches the host"
                        Layout.fillWidth: true
                        onAccepted: addButton.clicked()
                    }
                }
                RowLayout {
                    spacing: 12
                    Layout.fillWidth: true
                    Button {
                        id: addButton
                        objectName: "addHost"
                        text: "Set Up and Add"
                        enabled: hostName.text.length > 0 && !view.remotes.settingUp
                        onClicked: view.remotes.setUp(hostName.text, hostTransport.text)
                    }
                    BusyIndicator {
                        running: view.remotes.settingUp
                        visible: running
                        implicitWidth: 20
                        implicitHeight: 20
                    }
                }
                Text {
                    objectName: "setupText"
                    visible: text.length > 0
                    text: view.remotes.setupText
                    textFormat: Text.PlainText
                    font: Theme.caption
                    color: view.remotes.setupFailed ? Theme.destructive : Theme.secondary
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }
        }
    }
}
