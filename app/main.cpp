#include "colorscheme.h"
#include "zizovezovodavudovapp.h"

#include <QApplication>
#include <QIcon>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tolvo"));
    QApplication::setApplicationVersion(QStringLiteral(TOLVO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(TOLVO_APP_ID));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(TOLVO_APP_ID), QIcon(QStringLiteral(":/TolvoLogo.svg"))));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    ColorScheme colorScheme;
    ZizoveZovoDavudovApp tolvo;
    if (!tolvo.start())
        return 1;
    return app.exec();
}
