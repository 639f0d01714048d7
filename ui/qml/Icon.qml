import QtQuick

// One of Tolvo's symbols, tinted at run time.
Image {
    id: icon

    property string name
    property color color: Theme.secondary
    property real size: 16

    width: size
    height: size
    sourceSize: Qt.size(Math.ceil(size), Math.ceil(size))
    fillMode: Image.PreserveAspectFit
    smooth: true
    source: name.length > 0 ? "image://icon/" + name + "?color=" + color : ""
}
