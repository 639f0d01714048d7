import QtQuick
import QtQuick.Controls

// One line of an activity log: time, title, tool, details and, on demand,
// the event's raw JSON.
Column {
    id: row

    required property var model
    required property string timeText
    required property string title
    required property string toolText
    required property string detailsText
    // Kept in the log model, so that it outlives this delegate.
    required property bool jsonShown

    objectName: "logEntry"
    spacing: 4
    topPadding: 2
    bottomPadding: 2

    Item {
        width: row.width
        height: Math.max(line.implicitHeight, jsonButton.implicitHeight)

        Row {
            id: line
            spacing: 8
            width: parent.width - jsonButton.width - 8
            Text {
                width: 70
                text: row.timeText
                font: Theme.monoCaption
                color: Theme.secondary
                textFormat: Text.PlainText
                anchors.baseline: titleText.baseline
            }
            Text {
                id: titleText
                text: row.title
                font: Theme.withWeight(Theme.callout, Font.Medium)
                color: Theme.primary
                textFormat: Text.PlainText
            }
            Text {
                visible: row.toolText.length > 0
                text: row.toolText
                font: Theme.callout
                color: Theme.accent
                textFormat: Text.PlainText
                elide: Text.ElideRight
                width: Math.min(implicitWidth, line.width - 78 - titleText.width - 8)
            }
        }
        LinkButton {
            id: jsonButton
            objectName: "jsonButton"
            anchors.right: parent.right
            text: row.jsonShown ? "Hide" : "JSON"
            onClicked: row.model.jsonShown = !row.jsonShown
        }
    }

    Text {
        visible: row.detailsText.length > 0
        x: 78
        width: row.width - 78
        text: row.detailsText
        font: Theme.caption
        color: Theme.secondary
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        maximumLineCount: 2
        elide: Text.ElideRight
    }

    Loader {
        active: row.jsonShown
        visible: active
        width: row.width
        sourceComponent: Item {
            width: row.width
            height: Math.min(jsonText.implicitHeight, 150) + 4

            Rectangle {
                y: 4
                width: parent.width
                height: parent.height - 4
                radius: 4
                color: Theme.fill
                clip: true

                Flickable {
                    id: flick
                    anchors.fill: parent
                    contentWidth: jsonText.implicitWidth
                    contentHeight: jsonText.implicitHeight
                    boundsBehavior: Flickable.StopAtBounds
                    ScrollBar.horizontal: ScrollBar { policy: flick.contentWidth > flick.width ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded }
                    // Shown only while there is more to see; hiding it has no fade-out.
                    ScrollBar.vertical: ScrollBar {
                        objectName: "jsonScrollBar"
                        policy: ScrollBar.AlwaysOn
                        visible: flick.contentHeight > flick.height
                    }

                    TextEdit {
                        id: jsonText
                        objectName: "jsonText"
                        padding: 8
                        text: row.model.formattedJSON
                        textFormat: TextEdit.PlainText
                        font: Theme.monoCaption
                        color: Theme.secondary
                        readOnly: true
                        selectByMouse: true
                        selectByKeyboard: true
                        selectionColor: Theme.accent
                        selectedTextColor: Theme.onAccent
                    }
                }
            }
        }
    }
}
