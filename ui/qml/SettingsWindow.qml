import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Tolvo

// The settings window: general settings (login, row density, project names),
// notification preferences, remote hosts and pushes to the phone, one tab each. Made afresh each time it opens, so it always starts on General.
ThemedWindow {
    id: window

    title: "Settings"
    // A window of its own, not one that stays above the main window: Qt
    // ties a window declared inside another one to it, so undo that.
    onTransientParentChanged: {
        if (transientParent)
            transientParent = null
    }
    // Each tab scrolls what does not fit; a larger window shows more at once.
    width: 500
    height: 400
    minimumWidth: 500
    minimumHeight: 400

    Shortcut {
        sequences: [StandardKey.Cancel, StandardKey.Close]
        onActivated: window.close()
    }

    // A toolbar-style tab: symbol over label, the chosen one on a soft fill.
    component SettingsTab: TabButton {
        id: tab

        property string iconName

        width: Math.max(implicitWidth, 88)
        padding: 5
        horizontalPadding: 10
        spacing: 2
        display: AbstractButton.TextUnderIcon
        font: Theme.callout
        icon.width: 20
        icon.height: 20
        icon.source: "image://icon/" + iconName + "?color=" + (checked ? Theme.accent : Theme.secondary)
        icon.color: "transparent"
        palette.buttonText: checked ? Theme.accent : Theme.primary

        background: Rectangle {
            radius: 6
            color: tab.checked ? Theme.separator : tab.hovered ? Theme.fill : "transparent"
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        TabBar {
            id: tabs
            objectName: "settingsTabs"
            Layout.alignment: Qt.AlignHCenter
            // More tabs than fit flick sideways.
            Layout.maximumWidth: window.width
            Layout.topMargin: 6
            Layout.bottomMargin: 6
            spacing: 4
            background: null

            SettingsTab {
                objectName: "generalTab"
                text: "General"
                iconName: "gear"
            }
            SettingsTab {
                objectName: "notificationsTab"
                text: "Notifications"
                iconName: "bell"
            }
            SettingsTab {
                objectName: "remoteHostsTab"
                text: "Remote Hosts"
                iconName: "server"
            }
            SettingsTab {
                objectName: "pushTab"
                text: "Push"
                iconName: "phone"
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.separator
        }

        StackLayout {
            currentIndex: tabs.currentIndex
            Layout.fillWidth: true
            Layout.fillHeight: true

            GeneralSettingsView {
                objectName: "generalSettings"
            }
            NotificationSettingsView {
                objectName: "notificationSettings"
            }
            RemoteHostsSettingsView {
                objectName: "remoteHostsSettings"
            }
            PushSettingsView {
                objectName: "pushSettings"
            }
        }
    }
}
