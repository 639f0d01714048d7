import QtQuick

// The status light: a small disc that pulses while its instance works and
// fades when its process has gone.
Item {
    id: light

    property color color
    property bool isAnimating: false
    property bool dimmed: false
    property real pulse: 1.0

    implicitWidth: 10
    implicitHeight: 10
    opacity: dimmed ? 0.35 : pulse

    // A soft glow standing in for the light's shadow.
    Rectangle {
        anchors.centerIn: parent
        width: parent.width + 4
        height: width
        radius: width / 2
        color: Qt.rgba(light.color.r, light.color.g, light.color.b, 0.4 * light.pulse * 0.5)
    }
    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: light.color
        border.width: 1
        border.color: Qt.rgba(light.color.r, light.color.g, light.color.b, 0.3)
    }

    SequentialAnimation {
        id: pulsing
        running: light.isAnimating
        loops: Animation.Infinite
        NumberAnimation { target: light; property: "pulse"; to: 0.6; duration: 1000; easing.type: Easing.InOutQuad }
        NumberAnimation { target: light; property: "pulse"; to: 1.0; duration: 1000; easing.type: Easing.InOutQuad }
    }
    NumberAnimation {
        id: settling
        target: light; property: "pulse"; to: 1.0; duration: 200; easing.type: Easing.InOutQuad
    }
    onIsAnimatingChanged: {
        if (!isAnimating) {
            pulsing.stop()
            settling.restart()
        }
    }
}
