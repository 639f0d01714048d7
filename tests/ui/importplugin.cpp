// The Tolvo QML module is linked statically; every UI test imports it.
#include <QQmlEngineExtensionPlugin>
Q_IMPORT_QML_PLUGIN(TolvoPlugin)
