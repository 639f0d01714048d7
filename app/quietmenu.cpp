#include "quietmenu.h"

#include "quietstate.h"

#include <QActionGroup>
#include <QMenu>

namespace QuietMenu {

void add(QMenu &menu, QuietState &quiet)
{
    QMenu *choices = menu.addMenu(QStringLiteral("Do Not Disturb"));
    QAction *off = choices->addAction(QStringLiteral("Off"), &quiet,
                                      [&quiet] { quiet.choose(QStringLiteral("off")); });
    choices->addSeparator();
    for (const auto &[text, choice] : {std::pair{"For 1 Hour", "hour"},
                                       {"Until Tomorrow", "tomorrow"},
                                       {"Until I Turn It Off", "on"}}) {
        choices->addAction(QString::fromUtf8(text), &quiet,
                           [&quiet, choice = QString::fromUtf8(choice)] { quiet.choose(choice); });
    }
    const auto update = [choices, off, &quiet] {
        const QString text = quiet.text();
        choices->setTitle(text.isEmpty() ? QStringLiteral("Do Not Disturb") : text);
        off->setEnabled(quiet.doNotDisturb());
    };
    QObject::connect(&quiet, &QuietState::changed, choices, update);
    update();
}

} // namespace QuietMenu
