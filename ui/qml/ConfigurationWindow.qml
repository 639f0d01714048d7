import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Tolvo

// The setup sheet: a tab per agent, each with three steps that connect the agent
// to Tolvo. A new sheet is made for every presentation, so it starts on Claude
// Code's tab with its alert state clear.
ThemedWindow {
    id: sheet

    // Closed by its close button, Escape or the window manager.
    signal dismissed()

    property bool showCopiedAlert: false
    property string copiedAlertMessage: ""

    function copyToClipboard() {
        hookInstaller.copyConfiguration()
        copiedAlertMessage = "Hook configuration copied to clipboard"
        showCopiedAlert = true
    }

    title: hookInstaller.title
    modality: Qt.WindowModal
    flags: Qt.Dialog
    width: 600
    height: 550
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height

    onClosing: dismissed()
    onShowCopiedAlertChanged: showCopiedAlert ? copiedAlert.open() : copiedAlert.close()

    // Reads the chosen agent's settings file when the sheet is made, on each change
    // of tab, and again after each of its buttons.
    HookInstallController {
        id: hookInstaller
        agent: hookInstaller.agents[Math.max(0, agentTabs.currentIndex)]
    }

    Shortcut {
        sequences: [StandardKey.Cancel]
        enabled: !sheet.showCopiedAlert
        onActivated: sheet.close()
    }

    // A tab naming an agent, the chosen one on a soft fill.
    component AgentTab: TabButton {
        id: tab

        width: Math.max(implicitWidth, 110)
        padding: 6
        horizontalPadding: 12
        font: Theme.callout
        palette.buttonText: checked ? Theme.accent : Theme.primary

        background: Rectangle {
            radius: 6
            color: tab.checked ? Theme.separator : tab.hovered ? Theme.fill : "transparent"
        }
    }

    // A numbered step: heading with its symbol, explanation, then whatever the
    // step declares as children.
    component Step: ColumnLayout {
        id: step

        property string heading
        property string iconName
        property string explanation

        spacing: 12
        Layout.fillWidth: true

        RowLayout {
            spacing: 6
            Icon {
                name: step.iconName
                color: Theme.primary
                size: headingText.fontInfo.pixelSize * 1.2
                Layout.alignment: Qt.AlignVCenter
            }
            Text {
                id: headingText
                text: step.heading
                font: Theme.headline
                color: Theme.primary
            }
        }
        Text {
            text: step.explanation
            font: Theme.callout
            color: Theme.secondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 20
            spacing: 8

            Text {
                text: sheet.title
                font: Theme.withWeight(Theme.title2, Font.DemiBold)
                color: Theme.primary
                Layout.fillWidth: true
            }
            AbstractButton {
                id: closeButton
                objectName: "closeButton"
                Accessible.name: "Close"
                hoverEnabled: true
                implicitWidth: titleMetrics.height
                implicitHeight: titleMetrics.height
                contentItem: Icon {
                    name: "xmark-circle-fill"
                    color: closeButton.hovered ? Theme.primary : Theme.secondary
                    size: titleMetrics.height
                    opacity: closeButton.pressed ? 0.6 : 1.0
                }
                background: null
                onClicked: sheet.close()
            }
            FontMetrics {
                id: titleMetrics
                font: Theme.title2
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.separator
        }

        TabBar {
            id: agentTabs
            objectName: "agentTabs"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 12
            spacing: 4
            background: null
            onCurrentIndexChanged: steps.contentY = 0

            Repeater {
                model: hookInstaller.agents
                AgentTab {
                    objectName: modelData + "Tab"
                    text: hookInstaller.agentName(modelData)
                }
            }
        }

        Flickable {
            id: steps
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: width
            contentHeight: stepColumn.implicitHeight + 40
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                // Shown only while there is more to see; hiding it has no fade-out.
                policy: ScrollBar.AlwaysOn
                visible: steps.contentHeight > steps.height
            }

            ColumnLayout {
                id: stepColumn
                x: 20
                y: 20
                width: steps.width - 40
                spacing: 30

                Step {
                    heading: "Step 1: Copy the hook configuration"
                    iconName: "1-circle-fill"
                    explanation: hookInstaller.configurationExplanation

                    Rectangle {
                        Layout.fillWidth: true
                        implicitHeight: 120
                        radius: 8
                        color: Theme.fill
                        clip: true

                        Flickable {
                            id: configurationScroll
                            anchors.fill: parent
                            contentWidth: width
                            contentHeight: configurationText.implicitHeight
                            boundsBehavior: Flickable.StopAtBounds
                            ScrollBar.vertical: ScrollBar {
                                policy: configurationScroll.contentHeight > configurationScroll.height
                                        ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
                            }

                            TextEdit {
                                id: configurationText
                                objectName: "configurationText"
                                width: configurationScroll.width
                                padding: 12
                                // Instead, why there is none when Tolvo's folder
                                // cannot be written into it.
                                text: hookInstaller.configuration
                                textFormat: TextEdit.PlainText
                                font: Theme.monoCaption
                                color: Theme.primary
                                selectionColor: Theme.accent
                                selectedTextColor: Theme.onAccent
                                wrapMode: TextEdit.Wrap
                                readOnly: true
                                selectByMouse: true
                            }
                        }
                    }

                    // Claude Code only: what Install does with its status line.
                    CheckBox {
                        objectName: "shareStatusLineCheckBox"
                        visible: hookInstaller.offersStatusLine
                        text: hookInstaller.shareStatusLineLabel
                        font: Theme.callout
                        padding: 0
                        checked: hookInstaller.shareStatusLine
                        onToggled: hookInstaller.shareStatusLine = checked
                        Layout.fillWidth: true
                    }

                    RowLayout {
                        spacing: 8

                        ProminentButton {
                            objectName: "copyButton"
                            text: "Copy to Clipboard"
                            enabled: hookInstaller.prefixProblem === ""
                            icon.source: "image://icon/doc-on-clipboard?color=" + Theme.onAccent
                            icon.color: "transparent"
                            onClicked: sheet.copyToClipboard()
                        }
                        PlainButton {
                            objectName: "installButton"
                            Layout.fillHeight: true
                            text: "Install Automatically"
                            enabled: hookInstaller.canInstall
                            onClicked: hookInstaller.install()
                        }
                        PlainButton {
                            objectName: "removeButton"
                            Layout.fillHeight: true
                            text: "Remove"
                            enabled: hookInstaller.canRemove
                            onClicked: hookInstaller.remove()
                        }
                    }

                    // The settings file's state and what the last button did.
                    ColumnLayout {
                        spacing: 4
                        Layout.fillWidth: true

                        Text {
                            objectName: "installState"
                            text: hookInstaller.stateText
                            textFormat: Text.PlainText
                            font: Theme.callout
                            color: Theme.primary
                            wrapMode: Text.Wrap
                            Layout.fillWidth: true
                        }
                        Text {
                            objectName: "installResult"
                            visible: text !== ""
                            text: hookInstaller.resultText
                            textFormat: Text.PlainText
                            font: Theme.callout
                            color: hookInstaller.resultIsError ? Theme.destructive : Theme.secondary
                            wrapMode: Text.Wrap
                            Layout.fillWidth: true
                        }
                    }
                }

                Step {
                    heading: hookInstaller.settingsHeading
                    iconName: "2-circle-fill"
                    explanation: hookInstaller.settingsExplanation

                    ColumnLayout {
                        spacing: 8
                        Layout.fillWidth: true

                        Rectangle {
                            Layout.fillWidth: true
                            implicitHeight: settingsPath.implicitHeight
                            radius: 6
                            color: Theme.fill
                            Text {
                                id: settingsPath
                                width: parent.width
                                padding: 8
                                text: hookInstaller.settingsPath
                                textFormat: Text.PlainText
                                font: Theme.monoBody
                                color: Theme.primary
                            }
                        }
                        LinkButton {
                            objectName: "documentationButton"
                            text: hookInstaller.documentationLabel
                            iconName: "book"
                            font: Theme.callout
                            onClicked: App.openUrl(hookInstaller.documentationUrl)
                        }
                    }
                }

                Step {
                    heading: hookInstaller.restartHeading
                    iconName: "3-circle-fill"
                    explanation: hookInstaller.restartExplanation
                }
            }
        }
    }

    Dialog {
        id: copiedAlert
        objectName: "copiedAlert"
        title: "Copied!"
        modal: true
        closePolicy: Popup.CloseOnEscape
        anchors.centerIn: parent
        width: 300
        padding: 16
        topPadding: 4
        standardButtons: Dialog.Ok
        onClosed: sheet.showCopiedAlert = false

        footer: DialogButtonBox {
            alignment: Qt.AlignHCenter
            topPadding: 0
            bottomPadding: 16
            delegate: ProminentButton {
                width: 120
            }
        }

        header: Text {
            text: copiedAlert.title
            font: Theme.headline
            color: Theme.primary
            horizontalAlignment: Text.AlignHCenter
            topPadding: 20
            bottomPadding: 4
        }
        contentItem: Text {
            objectName: "copiedAlertMessage"
            text: sheet.copiedAlertMessage
            textFormat: Text.PlainText
            font: Theme.callout
            color: Theme.primary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
    }
}
