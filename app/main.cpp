#include "defaultsstore.h"
#include "desktopnotifier.h"
#include "instancemanager.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvo"));
    QApplication::setDesktopFileName(QStringLiteral(TOLVO_APP_ID));

    DefaultsStore defaults;
    DesktopNotifier notifier;
    InstanceManager manager(defaults, notifier);

    QLabel window(QStringLiteral("Tolvo"));
    window.setWindowTitle(QStringLiteral("Tolvo"));
    window.resize(550, 650);
    window.show();
    return app.exec();
}
