import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tolvo

// Below a row's header while its session waits for permission: what the
// request asks, and Allow, Always allow (saying what it allows) and Deny
// with an optional reason. For a question only the terminal can show, it
// says so instead.
ColumnLayout {
    id: panel
    objectName: "requestPanel"

    // The oldest request that waits for an answer from Tolvo ({id, text,
    // alwaysText, count}), or an empty object.
    required property var request
    readonly property bool hasRequest: request.id !== undefined
    required property bool answersInTerminal

    // "allow", "always" or "deny"; false when there is nothing to answer.
    function answer(word) {
        if (!hasRequest || (word === "always" && request.alwaysText.length === 0))
            return false
        App.answer(request.id, word, word === "deny" ? reasonField.text : "")
        reasonField.clear()
        return true
    }

    visible: hasRequest || answersInTerminal
    spacing: 6

    Text {
        objectName: "requestText"
        Layout.fillWidth: true
        text: panel.answersInTerminal ? "Answer in the terminal"
            : panel.hasRequest ? panel.request.text
                                + (panel.request.count > 1 ? "  (+" + (panel.request.count - 1) + " more)" : "")
            : ""
        font: Theme.callout
        color: Theme.primary
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        maximumLineCount: 3
        elide: Text.ElideRight
    }
    RowLayout {
        visible: panel.hasRequest
        spacing: 8
        Layout.fillWidth: true
        Layout.bottomMargin: alwaysText.visible ? 0 : 10
        ProminentButton {
            objectName: "allowButton"
            text: "Allow"
            onClicked: panel.answer("allow")
        }
        PlainButton {
            objectName: "alwaysAllowButton"
            visible: panel.hasRequest && panel.request.alwaysText.length > 0
            text: "Always allow"
            onClicked: panel.answer("always")
        }
        PlainButton {
            objectName: "denyButton"
            text: "Deny"
            onClicked: panel.answer("deny")
        }
        TextField {
            id: reasonField
            objectName: "reasonField"
            Layout.fillWidth: true
            Layout.minimumWidth: 80
            placeholderText: App.defaultDenyReason()
            font: Theme.callout
            onAccepted: panel.answer("deny")
        }
    }
    // What Always allow adds, as the terminal's own option says it.
    Text {
        id: alwaysText
        objectName: "alwaysText"
        visible: panel.hasRequest && panel.request.alwaysText.length > 0
        Layout.fillWidth: true
        Layout.bottomMargin: 10
        text: visible ? panel.request.alwaysText : ""
        font: Theme.caption
        color: Theme.secondary
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
    }
    Item {
        visible: panel.answersInTerminal
        implicitHeight: 4
    }
}
