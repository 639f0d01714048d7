import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// The Notifications tab: which notifications Tolvo posts, and the way to the
// desktop's own notification settings. Switches take effect at once.
Item {
    id: view

    // Scrolls only when large desktop fonts make the tab outgrow the window.
    Flickable {
        id: scroll
        anchors.fill: parent
        contentWidth: width
        contentHeight: sections.implicitHeight + 40
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            // Shown only while there is more to see; hiding it has no fade-out.
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
                    text: "Notification Preferences"
                    font: Theme.headline
                    color: Theme.primary
                }
                Text {
                    text: "Choose which notifications to receive from Claude Code sessions."
                    font: Theme.callout
                    color: Theme.secondary
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
                Rectangle {
                    Layout.fillWidth: true
                    implicitHeight: toggles.implicitHeight + 24
                    radius: 6
                    color: Theme.fill
                    border.color: Theme.separator

                    ColumnLayout {
                        id: toggles
                        x: 12
                        y: 12
                        width: parent.width - 24
                        spacing: 10

                        ToggleRow {
                            key: "notifyOnPermissionRequired"
                            title: "Permission Required"
                            description: "Show notifications when Claude Code needs permission to use a tool"
                        }
                        Divider {}
                        ToggleRow {
                            key: "notifyOnTaskComplete"
                            title: "Task Complete"
                            description: "Show notifications when Claude Code finishes processing your request"
                        }
                        Divider {}
                        ToggleRow {
                            key: "notifyOnIdle"
                            title: "Claude Code Idle"
                            description: "Show notifications when Claude Code becomes idle"
                        }
                    }
                }
            }

            QuietSettings {
                Layout.fillWidth: true
            }

            ColumnLayout {
                spacing: 8
                Layout.fillWidth: true

                Text {
                    text: "Permission Requests"
                    font: Theme.headline
                    color: Theme.primary
                }
                Text {
                    text: "Answer permission requests with Allow, Always allow or Deny in Tolvo's window, its notifications or tolvoctl, while the terminal still can."
                    font: Theme.callout
                    color: Theme.secondary
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
                Rectangle {
                    Layout.fillWidth: true
                    implicitHeight: holding.implicitHeight + 24
                    radius: 6
                    color: Theme.fill
                    border.color: Theme.separator

                    ColumnLayout {
                        id: holding
                        x: 12
                        y: 12
                        width: parent.width - 24
                        spacing: 10

                        ToggleRow {
                            key: "holdPermissionRequests"
                            title: "Hold permission requests for an answer from Tolvo"
                            description: "Off, Claude Code's dialog is the only way to answer"
                        }
                        Divider {}
                        ToggleRow {
                            key: "holdCodexRequests"
                            title: "Answer Codex permission requests in Tolvo"
                            description: "Codex's prompt in the terminal then waits until Tolvo answers or the time is up"
                        }
                        Divider {}
                        RowLayout {
                            spacing: 12
                            Layout.fillWidth: true
                            enabled: App.preferences.holdPermissionRequests
                                     || App.preferences.holdCodexRequests
                            Text {
                                text: "at most"
                                font: Theme.body
                                color: enabled ? Theme.primary : Theme.tertiary
                            }
                            SpinBox {
                                objectName: "holdMinutes"
                                Accessible.name: "Minutes to hold a request"
                                from: 1
                                to: 60
                                editable: true
                                value: App.preferences.holdMinutes
                                onValueModified: App.preferences.holdMinutes = value
                            }
                            Text {
                                text: "minutes"
                                font: Theme.body
                                color: enabled ? Theme.primary : Theme.tertiary
                                Layout.fillWidth: true
                            }
                        }
                    }
                }
            }

            ColumnLayout {
                spacing: 8
                Layout.fillWidth: true

                Text {
                    text: "Usage Warnings"
                    font: Theme.headline
                    color: Theme.primary
                }
                Rectangle {
                    Layout.fillWidth: true
                    implicitHeight: warnings.implicitHeight + 24
                    radius: 6
                    color: Theme.fill
                    border.color: Theme.separator

                    ColumnLayout {
                        id: warnings
                        x: 12
                        y: 12
                        width: parent.width - 24
                        spacing: 10

                        ToggleRow {
                            key: "warnPlanLimit"
                            title: "Plan limit"
                            description: "Once per 5-hour window when its use passes each percent"
                        }
                        PercentRow {
                            key: "planWarnPercent"
                            label: "first at"
                            on: App.preferences.warnPlanLimit
                        }
                        PercentRow {
                            key: "planAlarmPercent"
                            label: "again at"
                            on: App.preferences.warnPlanLimit
                        }
                        Divider {}
                        ToggleRow {
                            key: "warnContext"
                            title: "Context nearly full"
                            description: "Once per session, before Claude Code compacts it"
                        }
                        PercentRow {
                            key: "contextWarnPercent"
                            label: "at"
                            on: App.preferences.warnContext
                        }
                    }
                }
            }

            ColumnLayout {
                spacing: 8
                Layout.fillWidth: true

                Text {
                    text: "System Notification Settings"
                    font: Theme.headline
                    color: Theme.primary
                }
                Text {
                    text: "To customize how notifications appear (banners, alerts, sounds), use System Settings."
                    font: Theme.callout
                    color: Theme.secondary
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
                // A disabled button takes no hover, so the wrapper watches for it
                // to explain why the button is off.
                Item {
                    implicitWidth: openButton.implicitWidth
                    implicitHeight: openButton.implicitHeight

                    Button {
                        id: openButton
                        objectName: "openSystemSettingsButton"
                        text: "Open System Settings…"
                        enabled: App.notificationSettings.available
                        Accessible.description: enabled ? "" : App.notificationSettings.unavailableReason
                        leftPadding: 12
                        rightPadding: 12
                        onClicked: App.notificationSettings.open()
                    }
                    HoverHandler {
                        id: openHover
                    }
                    ToolTip {
                        objectName: "unavailableToolTip"
                        text: App.notificationSettings.unavailableReason
                        visible: openHover.hovered && !openButton.enabled && text.length > 0
                        delay: 500
                        width: Math.min(implicitWidth, view.width - 40)
                    }
                }
            }
        }
    }
}
