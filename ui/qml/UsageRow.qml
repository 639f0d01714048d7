import QtQuick
import QtQuick.Layouts
import Tolvo

// Model, how full the context is, and what the session has cost; how many
// lines and how long when the row is open.
RowLayout {
    id: usageRow
    objectName: "usageRow"

    // What the session's status line reported (SessionListModel's usage role).
    required property var usage
    required property bool expanded

    visible: usageRow.usage.model !== undefined || usageRow.usage.contextText !== undefined
             || usageRow.usage.costText !== undefined
    spacing: 8
    Text {
        objectName: "usageModel"
        visible: text !== ""
        text: usageRow.usage.model || ""
        textFormat: Text.PlainText
        font: Theme.caption
        color: Theme.tertiary
    }
    Rectangle {
        objectName: "contextBar"
        visible: (usageRow.usage.contextText || "") !== ""
        Layout.preferredWidth: 48
        Layout.preferredHeight: 4
        Layout.alignment: Qt.AlignVCenter
        radius: 2
        color: Theme.fill
        border.color: Theme.separator
        Rectangle {
            width: parent.width * (usageRow.usage.contextFraction || 0)
            height: parent.height
            radius: 2
            color: usageRow.usage.contextRed ? Theme.destructive : Theme.accent
        }
    }
    Text {
        objectName: "contextText"
        visible: text !== ""
        text: usageRow.usage.contextText || ""
        textFormat: Text.PlainText
        font: Theme.caption
        color: usageRow.usage.contextRed ? Theme.destructive : Theme.secondary
    }
    Text {
        objectName: "costText"
        visible: text !== ""
        text: usageRow.usage.costText || ""
        textFormat: Text.PlainText
        font: Theme.caption
        color: Theme.secondary
    }
    Text {
        objectName: "usageDetails"
        visible: usageRow.expanded && text !== ""
        text: usageRow.usage.detailsText || ""
        textFormat: Text.PlainText
        font: Theme.caption
        color: Theme.tertiary
        elide: Text.ElideRight
        Layout.fillWidth: true
    }
}
