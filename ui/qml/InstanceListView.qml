import QtQuick
import QtQuick.Controls
import Tolvo

// The reorderable list of instances. A row dragged over another takes its
// place at once; on release the move goes to the instance manager.
ListView {
    id: list

    model: App.instances
    topMargin: 4
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    // A clicked notification leads to its session: scrolled into view and open.
    Connections {
        target: App
        function onRevealInstance(instanceId) {
            const index = App.rowOf(instanceId)
            if (index < 0)
                return
            // The delegate exists once its row is in view; the opened row then
            // goes to the top so that its log below it shows as well.
            list.positionViewAtIndex(index, ListView.Contain)
            const slot = list.itemAtIndex(index)
            if (slot)
                slot.expand()
            list.positionViewAtIndex(index, ListView.Beginning)
        }
    }

    displaced: Transition {
        NumberAnimation { properties: "y"; duration: 150; easing.type: Easing.InOutQuad }
    }
    remove: Transition {
        NumberAnimation { property: "opacity"; to: 0; duration: 200; easing.type: Easing.InOutQuad }
    }
    add: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 200; easing.type: Easing.InOutQuad }
    }

    delegate: Item {
        id: slot

        required property int index
        required property string instanceId
        required property string displayName
        required property string statusLine
        required property color statusColor
        required property bool isWorking
        required property bool isExited

        property int dragFrom: -1
        property real grabY: 0

        function expand() {
            if (!row.isExpanded)
                row.toggleExpanded()
        }

        objectName: "slot-" + instanceId
        width: ListView.view.width
        height: row.implicitHeight + 12

        InstanceRowView {
            id: row
            objectName: "instanceRow"
            instanceId: slot.instanceId
            displayName: slot.displayName
            statusLine: slot.statusLine
            statusColor: slot.statusColor
            isWorking: slot.isWorking
            exited: slot.isExited

            x: 16
            y: 6
            width: slot.width - 32

            Drag.active: dragHandler.active
            Drag.source: slot
            Drag.hotSpot.x: width / 2
            Drag.hotSpot.y: slot.grabY

            DragHandler {
                id: dragHandler
                target: null
                xAxis.enabled: false
                onActiveChanged: {
                    if (active) {
                        slot.dragFrom = slot.index
                        slot.grabY = centroid.pressPosition.y
                    } else if (slot.dragFrom >= 0) {
                        const from = slot.dragFrom
                        slot.dragFrom = -1
                        App.instances.commitMove(from, slot.index)
                    }
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

        DropArea {
            anchors.fill: parent
            onEntered: (drag) => {
                if (drag.source && drag.source !== slot && drag.source.index !== undefined)
                    App.instances.moveRow(drag.source.index, slot.index)
            }
        }
    }
}
