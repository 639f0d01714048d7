pragma Singleton
import QtQuick

// Text styles and semantic colours, taken from the desktop's font and palette
// so that light and dark themes both work.
QtObject {
    id: theme

    property SystemPalette palette: SystemPalette { colorGroup: SystemPalette.Active }

    // Text styles, scaled from the platform's body size.
    readonly property real bodySize: Qt.application.font.pointSize > 0 ? Qt.application.font.pointSize : 10
    readonly property font largeTitle: Qt.font({ pointSize: bodySize * 2.0 })
    readonly property font title: Qt.font({ pointSize: bodySize * 1.7 })
    readonly property font title2: Qt.font({ pointSize: bodySize * 1.3 })
    readonly property font title3: Qt.font({ pointSize: bodySize * 1.15 })
    readonly property font headline: Qt.font({ pointSize: bodySize, weight: Font.DemiBold })
    readonly property font body: Qt.font({ pointSize: bodySize })
    readonly property font callout: Qt.font({ pointSize: bodySize * 0.92 })
    readonly property font caption: Qt.font({ pointSize: bodySize * 0.8 })
    readonly property font monoCaption: Qt.font({ family: "monospace", pointSize: bodySize * 0.8 })
    readonly property font monoBody: Qt.font({ family: "monospace", pointSize: bodySize })

    function withWeight(f, weight) {
        return Qt.font({ family: f.family, pointSize: f.pointSize, weight: weight })
    }

    // Semantic colours.
    readonly property color windowBackground: palette.window
    readonly property color controlBackground: palette.base
    readonly property color primary: palette.windowText
    readonly property color secondary: Qt.rgba(primary.r, primary.g, primary.b, 0.62)
    readonly property color tertiary: Qt.rgba(primary.r, primary.g, primary.b, 0.4)
    readonly property color quaternary: Qt.rgba(primary.r, primary.g, primary.b, 0.26)
    readonly property color fill: Qt.rgba(primary.r, primary.g, primary.b, 0.06)
    readonly property color separator: Qt.rgba(primary.r, primary.g, primary.b, 0.16)
    readonly property color accent: palette.highlight
    readonly property color onAccent: palette.highlightedText
    readonly property color destructive: "#d93a33"
    readonly property bool isDark: windowBackground.hslLightness < 0.5
}
