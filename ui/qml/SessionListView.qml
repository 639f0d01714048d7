import QtQuick
import QtQuick.Controls
import Tolvo

// The reorderable list of sessions. A row dragged over another takes its
// place at once, in the session list itself.
ListView {
    id: list

    model: App.sessions
    topMargin: 4
    // Return on the selected row goes to its session's terminal.
    focus: true
    keyNavigationEnabled: true
    currentIndex: -1
    Keys.onReturnPressed: App.goToTerminal(currentIndex)
    Keys.onEnterPressed: App.goToTerminal(currentIndex)
    // A, Shift+A and D answer the selected row's waiting request.
    Keys.onPressed: (event) => {
        const item = itemAtIndex(currentIndex)
        const row = item ? item.sessionRow : null
        if (!row || event.modifiers & ~Qt.ShiftModifier)
            return
        if (event.key === Qt.Key_A)
            event.accepted = row.answer(event.modifiers & Qt.ShiftModifier ? "always" : "allow")
        else if (event.key === Qt.Key_D && !(event.modifiers & Qt.ShiftModifier))
            event.accepted = row.answer("deny")
    }
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    // A closed comfortable row: name, status line and the card's margins.
    readonly property real comfortableRowHeight: titleMetrics.height + 4 + statusMetrics.height + 24 + 12
    readonly property bool compact: App.compactRows(App.preferences.rowDensity, count,
                                                    height - topMargin, comfortableRowHeight)
    FontMetrics {
        id: titleMetrics
        font: Theme.title
    }
    FontMetrics {
        id: statusMetrics
        font: Theme.headline
    }

    // A clicked notification leads to its session, whose row the session list
    // has already opened: bring it into view, at the top so that its log shows.
    Connections {
        target: App
        function onRevealRow(row) {
            list.positionViewAtIndex(row, ListView.Beginning)
        }
    }

    displaced: Transition {
        NumberAnimation { properties: "y"; duration: 150; easing.type: Easing.InOutQuad }
    }
    remove: Transition {
        NumberAnimation { property: "opacity"; to: 0; duration: 200; easing.type: Easing.InOutQuad }
    }

    delegate: Item {
        id: slot

        required property var model
        required property int index
        required property string sessionId
        required property string displayName
        required property string statusLine
        required property int statusColor
        required property bool isWorking
        required property bool isExited
        required property string badge
        required property string agentMark
        required property string agentName
        required property var usage
        required property bool expanded
        required property bool editing
        required property string editedName
        required property bool canGoToTerminal
        required property string notice
        required property var request
        required property bool answersInTerminal

        property real grabY: 0
        readonly property alias sessionRow: row

        objectName: "slot-" + sessionId
        width: ListView.view.width

        // A new row fades in at its place. (An add transition of the view's
        // would leave rows that arrive together where the first layout put them.)
        ListView.onAdd: fadeIn.start()
        NumberAnimation {
            id: fadeIn
            target: slot
            property: "opacity"
            from: 0
            to: 1
            duration: 200
            easing.type: Easing.InOutQuad
        }
        height: row.implicitHeight + (list.compact ? 4 : 12)

        SessionRow {
            id: row
            objectName: "sessionRow"
            rowModel: slot.model
            rowIndex: slot.index
            displayName: slot.displayName
            statusLine: slot.statusLine
            statusColor: App.statusColor(slot.statusColor)
            isWorking: slot.isWorking
            exited: slot.isExited
            badge: slot.badge
            agentMark: slot.agentMark
            agentName: slot.agentName
            usage: slot.usage
            isExpanded: slot.expanded
            isEditingName: slot.editing
            editedName: slot.editedName
            canGoToTerminal: slot.canGoToTerminal
            notice: slot.notice
            request: slot.request
            answersInTerminal: slot.answersInTerminal
            selected: slot.ListView.isCurrentItem && list.activeFocus
            compact: list.compact

            x: 16
            y: list.compact ? 2 : 6
            width: slot.width - 32

            Drag.active: dragHandler.active
            Drag.source: slot
            Drag.hotSpot.x: width / 2
            Drag.hotSpot.y: slot.grabY

            // A click selects the row, for Return.
            TapHandler {
                gesturePolicy: TapHandler.DragThreshold
                onTapped: {
                    list.currentIndex = slot.index
                    list.forceActiveFocus()
                }
            }

            DragHandler {
                id: dragHandler
                target: null
                xAxis.enabled: false
                onActiveChanged: {
                    if (active)
                        slot.grabY = centroid.pressPosition.y
                }
            }

            states: State {
                name: "dragging"
                when: dragHandler.active
                ParentChange { target: row; parent: list.contentItem }
                PropertyChanges {
                    target: row
                    z: 10
                    x: 16
                    y: list.contentItem.mapFromItem(null, 0, dragHandler.centroid.scenePosition.y).y - slot.grabY
                }
            }
        }

        // The rows move in the session list itself, live, as the dragged row
        // passes over them; the list keeps the order.
        DropArea {
            anchors.fill: parent
            onEntered: (drag) => {
                if (drag.source && drag.source !== slot && drag.source.index !== undefined)
                    App.sessions.move(drag.source.index, slot.index)
            }
        }
    }
}
