import QtQuick
import QtQuick.Layouts
import Tolvo

// A hairline between the rows of a settings group.
Rectangle {
    Layout.fillWidth: true
    implicitHeight: 1
    color: Theme.separator
}
