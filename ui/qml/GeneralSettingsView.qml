import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// The General settings tab: starting at login, and the names under which
// project directories show. The checkbox takes effect at once; for names,
// typing only edits and "Apply" stores. Edits not applied are dropped each
// time the tab comes on screen.
Item {
    id: view

    Component.onCompleted: App.projectNames.reset()
    onVisibleChanged: {
        if (visible)
            App.projectNames.reset()
    }

    Flickable {
        id: scroll
        anchors.fill: parent
        contentWidth: width
        contentHeight: section.implicitHeight + 40
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            // Shown only while there is more to see; hiding it has no fade-out.
            policy: ScrollBar.AlwaysOn
            visible: scroll.contentHeight > scroll.height
        }

        ColumnLayout {
            id: section
            x: 20
            y: 20
            width: scroll.width - 40
            spacing: 16

            CheckBox {
                objectName: "startAtLoginCheckBox"
                text: "Start Tolvo at login"
                font: Theme.body
                padding: 0
                checked: App.preferences.startAtLogin
                onToggled: App.preferences.startAtLogin = checked
            }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 1
                color: Theme.separator
            }

            Text {
                text: "Row Density"
                font: Theme.headline
                color: Theme.primary
            }
            Text {
                text: "Automatic shows compact rows when the list is longer than the window."
                font: Theme.callout
                color: Theme.secondary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            RowLayout {
                spacing: 16
                Repeater {
                    model: App.rowDensities
                    delegate: RadioButton {
                        required property string modelData
                        objectName: "densityButton-" + modelData
                        text: App.rowDensityLabel(modelData)
                        font: Theme.body
                        padding: 0
                        checked: App.preferences.rowDensity === modelData
                        onClicked: App.preferences.rowDensity = modelData
                    }
                }
            }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 1
                color: Theme.separator
            }

            Text {
                text: "Custom Project Names"
                font: Theme.headline
                color: Theme.primary
            }
            Text {
                text: "Set custom names for your projects that will be remembered across sessions."
                font: Theme.callout
                color: Theme.secondary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: App.projectNames.isEmpty ? emptyState.implicitHeight + 40
                                                         : rows.implicitHeight + 16
                radius: 6
                color: Theme.fill
                border.color: Theme.separator

                ColumnLayout {
                    id: emptyState
                    objectName: "noProjects"
                    visible: App.projectNames.isEmpty
                    anchors.centerIn: parent
                    spacing: 12

                    Icon {
                        name: "folder"
                        size: 36
                        color: Theme.quaternary
                        Layout.alignment: Qt.AlignHCenter
                    }
                    Text {
                        text: "No projects yet"
                        font: Theme.callout
                        color: Theme.secondary
                        Layout.alignment: Qt.AlignHCenter
                    }
                }

                Column {
                    id: rows
                    visible: !App.projectNames.isEmpty
                    x: 12
                    y: 8
                    width: parent.width - 24
                    spacing: 8

                    Repeater {
                        model: App.projectNames
                        delegate: ProjectNameRow {
                            width: rows.width
                        }
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true

                Button {
                    objectName: "clearAllButton"
                    text: "Clear All Names"
                    palette.buttonText: Theme.destructive
                    leftPadding: 12
                    rightPadding: 12
                    onClicked: App.projectNames.clearAll()
                }
                Item {
                    Layout.fillWidth: true
                }
                ProminentButton {
                    objectName: "applyButton"
                    text: "Apply"
                    enabled: App.projectNames.canApply
                    onClicked: App.projectNames.apply()
                }
            }
        }
    }
}
