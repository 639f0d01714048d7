import QtQuick
import QtQuick.Window

// A window whose controls follow the desktop palette, light or dark, also
// when it changes while the window is open. Qt Quick Controls resolve their
// colours against the style's palette and inherit from the window only the
// roles the window sets itself, so every role is set here.
Window {
    id: window

    color: Theme.windowBackground

    function applyDesktopPalette() {
        const roles = ["window", "windowText", "base", "alternateBase", "text", "button",
                       "buttonText", "highlight", "highlightedText", "light", "midlight", "mid",
                       "dark", "shadow", "placeholderText"]
        for (const role of roles) {
            palette.active[role] = activeColors[role]
            palette.inactive[role] = activeColors[role]
            palette.disabled[role] = disabledColors[role]
        }
        palette.toolTipBase = activeColors.base
        palette.toolTipText = activeColors.text
    }

    Component.onCompleted: applyDesktopPalette()

    readonly property SystemPalette activeColors: SystemPalette {
        colorGroup: SystemPalette.Active
        onPaletteChanged: window.applyDesktopPalette()
    }
    readonly property SystemPalette disabledColors: SystemPalette {
        colorGroup: SystemPalette.Disabled
    }
}
