import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Tolvo

// The main window: a header with the session count and the pin, then the
// welcome view, the empty state or the list of sessions.
ApplicationWindow {
    id: root

    property bool showingConfigurationWindow: false
    property bool showingSettings: false

    function showSettings() {
        if (showingSettings && settingsLoader.item)
            settingsLoader.item.raise()
        showingSettings = true
    }

    title: "Tolvo"
    width: 550
    height: 650
    minimumWidth: 450
    maximumWidth: 700
    minimumHeight: 400
    x: Screen.virtualX + (Screen.width - width) / 2
    y: Screen.virtualY + (Screen.height - height) / 2
    color: Theme.windowBackground

    menuBar: MenuBar {
        Menu {
            title: "&File"
            onAboutToShow: newWindowAction.enabled = App.newWindowEnabled()
            Action {
                id: newWindowAction
                text: "New Window"
                shortcut: "Ctrl+N"
                enabled: App.newWindowEnabled()
                onTriggered: App.newWindow()
            }
            Action {
                text: "Settings…"
                shortcut: "Ctrl+,"
                onTriggered: root.showSettings()
            }
            MenuSeparator {}
            Action {
                text: "Quit"
                shortcut: StandardKey.Quit
                onTriggered: Qt.quit()
            }
        }
        Menu {
            title: "&View"
            Action {
                objectName: "showConfigureAction"
                text: "Show Configure Claude Code"
                shortcut: "Ctrl+Shift+K"
                onTriggered: root.showingConfigurationWindow = true
            }
            MenuSeparator {}
            Menu {
                id: densityMenu
                title: "Row Density"
                ButtonGroup {
                    id: densityItems
                }
                Instantiator {
                    model: App.rowDensities
                    delegate: MenuItem {
                        required property string modelData
                        objectName: "densityItem-" + modelData
                        text: App.rowDensityLabel(modelData)
                        checkable: true
                        checked: App.preferences.rowDensity === modelData
                        ButtonGroup.group: densityItems
                        onTriggered: App.preferences.rowDensity = modelData
                    }
                    onObjectAdded: (index, item) => densityMenu.insertItem(index, item)
                    onObjectRemoved: (index, item) => densityMenu.removeItem(item)
                }
            }
        }
        Menu {
            title: "&Help"
            Action {
                text: "About Tolvo"
                onTriggered: aboutLoader.active = true
            }
            // Only builds that check for updates themselves offer this.
            MenuItem {
                objectName: "checkForUpdatesItem"
                visible: App.updater.available
                height: visible ? implicitHeight : 0
                text: "Check for Updates..."
                onTriggered: App.updater.checkForUpdates()
            }
        }
    }

    header: ToolBar {
        objectName: "headerBar"
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 16
            anchors.rightMargin: 8
            Label {
                objectName: "subtitle"
                text: App.sessions.subtitle
                font: Theme.callout
                color: Theme.secondary
            }
            Label {
                objectName: "usageSummary"
                text: App.sessions.usageSummary
                textFormat: Text.PlainText
                visible: text !== ""
                font: Theme.caption
                color: Theme.tertiary
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Item {
                visible: App.sessions.usageSummary === ""
                Layout.fillWidth: true
            }
            Label {
                objectName: "quietText"
                text: App.quiet.text
                textFormat: Text.PlainText
                visible: text !== ""
                font: Theme.caption
                color: Theme.secondary
                elide: Text.ElideRight
                Layout.maximumWidth: 260
            }
            ToolButton {
                objectName: "removeExitedButton"
                text: "Remove Exited"
                visible: App.sessions.exitedCount > 0
                onClicked: App.sessions.removeExited()
            }
            ToolButton {
                id: pinButton
                objectName: "pinButton"
                readonly property bool pinned: App.preferences.isPinnedToTop
                Accessible.name: App.pinToolTip(pinned)
                icon.source: "image://icon/" + App.pinIcon(pinned) + "?color="
                             + (pinned ? Theme.accent : Theme.secondary)
                icon.color: "transparent"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: App.pinToolTip(pinned)
                onClicked: {
                    App.preferences.isPinnedToTop = !App.preferences.isPinnedToTop
                    App.applyPinPreference()
                }
            }
        }
    }

    // While hook events cannot arrive, one line says why.
    Rectangle {
        id: banner
        objectName: "banner"
        visible: App.banner.length > 0
        anchors.left: parent.left
        anchors.right: parent.right
        height: visible ? bannerText.implicitHeight + 12 : 0
        color: Qt.rgba(Theme.destructive.r, Theme.destructive.g, Theme.destructive.b, 0.15)
        Text {
            id: bannerText
            objectName: "bannerText"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            text: App.banner
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font: Theme.callout
            color: Theme.primary
        }
    }

    StackLayout {
        id: content
        objectName: "content"
        anchors.top: banner.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        currentIndex: App.contentState === "welcome" ? 0 : App.contentState === "empty" ? 1 : 2

        WelcomeView {
            objectName: "welcomeView"
            onConfigureRequested: root.showingConfigurationWindow = true
        }
        EmptyStateView {
            objectName: "emptyStateView"
        }
        SessionListView {
            objectName: "sessionList"
        }
    }

    // A new setup sheet for every presentation.
    Loader {
        id: configurationLoader
        active: root.showingConfigurationWindow
        sourceComponent: ConfigurationWindow {
            transientParent: root
            onDismissed: root.showingConfigurationWindow = false
        }
        onLoaded: item.show()
    }

    Loader {
        id: settingsLoader
        active: root.showingSettings
        sourceComponent: SettingsWindow {
            onClosing: root.showingSettings = false
        }
        onLoaded: item.show()
    }

    Loader {
        id: aboutLoader
        active: false
        sourceComponent: AboutDialog {
            transientParent: root
            onClosing: aboutLoader.active = false
        }
        onLoaded: item.show()
    }

    UpdateDialog {
        transientParent: root
    }

    Component.onCompleted: App.applyPinPreference()
}
