import QtQuick
import Tolvo

// The row's chevron: points down when closed, up when open.
Item {
    id: view

    property bool isExpanded: false
    property real progress: 0
    property color color: Theme.secondary

    implicitWidth: 10
    implicitHeight: 10

    AnimatedChevron {
        anchors.fill: parent
        animationProgress: view.progress
        color: view.color
        lineWidth: 2
    }

    NumberAnimation {
        id: turn
        target: view; property: "progress"; duration: 300; easing.type: Easing.InOutQuad
    }
    Component.onCompleted: progress = isExpanded ? 1 : 0
    onIsExpandedChanged: {
        turn.to = isExpanded ? 1 : 0
        turn.restart()
    }
}
