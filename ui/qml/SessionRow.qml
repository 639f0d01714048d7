import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// One session: status light, name, what it is doing, and on a click its
// activity log. Compact, the name and the status line share one line.
Item {
    id: root

    // The row's entry in the session list: its view state is written there,
    // so that it outlives this delegate.
    required property var rowModel
    required property int rowIndex
    required property string displayName
    required property string statusLine
    required property color statusColor
    required property bool isWorking
    // The process has gone; the row stays until it is removed.
    required property bool exited
    // "Exited", or "Disconnected" while a remote's relay is down; empty otherwise.
    required property string badge
    required property string agentMark
    required property string agentName
    // What its status line reports: "model", "contextText", "contextFraction",
    // "contextRed", "costText", "detailsText"; empty without one.
    required property var usage

    required property bool canGoToTerminal
    // What Go to Terminal did when the user has to finish it; empty otherwise.
    required property string notice
    // The oldest request that waits for an answer from Tolvo, and whether the
    // session waits on a question only its terminal can show (RequestPanel).
    required property var request
    required property bool answersInTerminal
    required property bool isExpanded
    required property bool isEditingName
    required property string editedName
    property bool isHoveringTitle: false
    property bool selected: false
    property bool compact: false

    implicitHeight: content.implicitHeight

    // Opening a row marks its session read (the session list does that).
    function toggleExpanded() {
        rowModel.expanded = !isExpanded
    }
    function headerTapped() {
        if (isEditingName)
            commitEditing()
        else
            toggleExpanded()
    }
    function beginEditing() {
        rowModel.editing = true
    }
    function commitEditing() {
        App.sessions.rename(rowIndex, editedName)
    }
    function cancelEditing() {
        rowModel.editing = false
    }
    // "allow", "always" or "deny"; false when there is nothing to answer.
    function answer(word) {
        return requestPanel.answer(word)
    }

    // Card with a soft shadow and a hairline outline.
    Rectangle {
        x: 0; y: 1
        width: parent.width
        height: parent.height
        radius: 8
        color: Qt.rgba(0, 0, 0, 0.15)
    }
    Rectangle {
        anchors.fill: parent
        radius: 8
        color: Theme.controlBackground
        border.width: root.selected ? 1.5 : 0.5
        border.color: root.selected ? Theme.accent
                                    : Qt.rgba(Theme.separator.r, Theme.separator.g, Theme.separator.b, Theme.separator.a * 0.5 + 0.1)
    }

    Column {
        id: content
        width: parent.width

        Item {
            id: header
            objectName: "rowHeader"
            width: parent.width
            height: headerRow.implicitHeight + (root.compact ? 10 : 24)

            // The header's background takes the clicks that its contents leave.
            MouseArea {
                anchors.fill: parent
                onClicked: root.headerTapped()
            }

            RowLayout {
                id: headerRow
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                spacing: 12

                StatusLightView {
                    objectName: "statusLight"
                    color: root.statusColor
                    isAnimating: root.isWorking && !root.exited
                    dimmed: root.exited
                    Layout.alignment: Qt.AlignVCenter
                }

                GridLayout {
                    columns: root.compact ? 2 : 1
                    rowSpacing: 4
                    columnSpacing: 8
                    Layout.fillWidth: true

                    Loader {
                        // Compact, the name (at most half the row) leaves the rest to the status line.
                        Layout.fillWidth: !root.compact || root.isEditingName
                        sourceComponent: root.isEditingName ? nameField : titleRow
                    }

                    Text {
                        objectName: "statusLine"
                        Layout.fillWidth: true
                        text: root.statusLine
                        font: root.compact ? Theme.callout : Theme.headline
                        color: Theme.secondary
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        MouseArea {
                            anchors.fill: parent
                            onClicked: root.toggleExpanded()
                        }
                    }

                    UsageRow {
                        usage: root.usage
                        expanded: root.isExpanded
                        Layout.columnSpan: root.compact ? 2 : 1
                        Layout.fillWidth: true
                    }

                    Text {
                        objectName: "notice"
                        visible: root.notice.length > 0
                        Layout.columnSpan: root.compact ? 2 : 1
                        Layout.fillWidth: true
                        text: root.notice
                        font: Theme.caption
                        color: Theme.secondary
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                    }
                }

                AccessoryButton {
                    objectName: "goToTerminalButton"
                    visible: root.canGoToTerminal
                    text: "Go to Terminal"
                    iconName: "terminal-fill"
                    Layout.alignment: Qt.AlignVCenter
                    onClicked: App.goToTerminal(root.rowIndex)
                }

                AnimatedChevronView {
                    isExpanded: root.isExpanded
                    color: Theme.secondary
                    Layout.preferredWidth: 10
                    Layout.preferredHeight: 10
                    Layout.alignment: Qt.AlignVCenter
                }
            }
        }

        // A waiting request: what it asks, and the three answers.
        RequestPanel {
            id: requestPanel
            x: 16
            width: parent.width - 32
            request: root.request
            answersInTerminal: root.answersInTerminal
        }

        // The log opens and closes with a short ease.
        Item {
            id: logClip
            objectName: "logSection"
            // True while the height animation runs.
            readonly property bool opening: height !== (root.isExpanded ? logLoader.implicitHeight : 0)
            width: parent.width
            height: root.isExpanded ? logLoader.implicitHeight : 0
            clip: true
            visible: height > 0
            Behavior on height {
                NumberAnimation { duration: 100; easing.type: Easing.InOutQuad }
            }
            Loader {
                id: logLoader
                width: parent.width
                active: root.isExpanded || logClip.height > 0
                sourceComponent: logSection
            }
        }
    }

    Component {
        id: titleRow
        Row {
            spacing: 8
            HoverHandler {
                onHoveredChanged: root.isHoveringTitle = hovered
            }
            Text {
                objectName: "title"
                text: root.displayName
                font: root.compact ? Theme.headline : Theme.withWeight(Theme.title, Font.Medium)
                color: Theme.primary
                textFormat: Text.PlainText
                elide: Text.ElideRight
                width: Math.min(implicitWidth,
                                (root.compact ? headerRow.width / 2 : header.width - 120)
                                - (exitedBadge.visible ? exitedBadge.width + 8 : 0)
                                - agentBadge.width - 8
                                - (root.compact && editControl.visible ? editControl.width + 8 : 0))
                MouseArea {
                    anchors.fill: parent
                    onClicked: root.toggleExpanded()
                }
            }
            // Which agent runs the session: a quiet mark, its full name on hover.
            Text {
                id: agentBadge
                objectName: "agentMark"
                anchors.verticalCenter: parent.verticalCenter
                text: root.agentMark
                textFormat: Text.PlainText
                font: Theme.caption
                color: Theme.tertiary
                Accessible.name: root.agentName
                HoverHandler { id: agentHover }
                ToolTip.visible: agentHover.hovered
                ToolTip.delay: 600
                ToolTip.text: root.agentName
            }
            // Its project is muted: no notifications, the light as ever.
            Icon {
                objectName: "mutedMark"
                visible: root.rowModel.muted
                anchors.verticalCenter: parent.verticalCenter
                name: "bell-slash"
                size: agentBadge.implicitHeight
                color: Theme.tertiary
                Accessible.name: "Muted"
            }
            Rectangle {
                id: exitedBadge
                objectName: "exitedBadge"
                visible: root.badge !== ""
                anchors.verticalCenter: parent.verticalCenter
                width: exitedLabel.implicitWidth + 10
                height: exitedLabel.implicitHeight + 2
                radius: height / 2
                color: Theme.fill
                border.color: Theme.separator
                Text {
                    id: exitedLabel
                    objectName: "exitedLabel"
                    anchors.centerIn: parent
                    text: root.badge
                    textFormat: Text.PlainText
                    font: Theme.caption
                    color: Theme.secondary
                }
            }
            Item {
                id: editControl
                objectName: "editControl"
                anchors.verticalCenter: parent.verticalCenter
                implicitWidth: editRow.implicitWidth
                implicitHeight: editRow.implicitHeight
                width: implicitWidth
                height: implicitHeight
                visible: opacity > 0
                opacity: root.isHoveringTitle ? 1 : 0
                scale: root.isHoveringTitle ? 1 : 0.6
                Behavior on opacity { NumberAnimation { duration: 150; easing.type: Easing.InOutQuad } }
                Behavior on scale { NumberAnimation { duration: 150; easing.type: Easing.InOutQuad } }
                Row {
                    id: editRow
                    spacing: 3
                    Icon {
                        name: "pencil"
                        color: Theme.secondary
                        size: editLabel.implicitHeight * 0.85
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        id: editLabel
                        text: "Edit"
                        font: Theme.callout
                        color: Theme.secondary
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: root.beginEditing()
                }
            }
        }
    }

    Component {
        id: nameField
        TextField {
            objectName: "nameField"
            placeholderText: "Session name"
            font: root.compact ? Theme.headline : Theme.title
            background: null
            leftPadding: 0
            rightPadding: 0
            topPadding: 0
            bottomPadding: 0
            Component.onCompleted: {
                text = root.editedName
                forceActiveFocus()
            }
            onTextEdited: root.rowModel.editedName = text
            onAccepted: root.commitEditing()
            Keys.onEscapePressed: root.cancelEditing()
        }
    }

    Component {
        id: logSection
        SessionLogSection {
            width: logLoader.width
            row: root
        }
    }
}
