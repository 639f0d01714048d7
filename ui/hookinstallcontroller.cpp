#include "hookinstallcontroller.h"

#include "defaultsstore.h"
#include "hookconfiguration.h"
#include "hookinstaller.h"
#include "settingstable.h"

namespace {

// The PermissionRequest hook's timeout follows the hold the user set.
int holdMinutes()
{
    return Settings::holdBoundMinutes(DefaultsStore());
}

} // namespace

HookInstallController::HookInstallController(QObject *parent) : QObject(parent)
{
    refresh();
}

void HookInstallController::refresh()
{
    using HookInstaller::State;
    const HookInstaller::Inspection inspection = HookInstaller::inspectFile(
        HookInstaller::defaultSettingsPath(), HookConfiguration::installPrefix(), holdMinutes());
    m_stateText = HookInstaller::describe(inspection);
    m_canInstall = inspection.state != State::Installed && inspection.state != State::Invalid;
    m_canRemove = inspection.state != State::NotInstalled && inspection.state != State::Invalid;
    const QString problem = HookConfiguration::prefixProblem();
    m_prefixProblem = problem.isEmpty() ? problem : problem + u'.';
    Q_EMIT changed();
}

void HookInstallController::install()
{
    const HookInstaller::FileOutcome outcome =
        HookInstaller::installFile(HookInstaller::defaultSettingsPath(),
                                   HookConfiguration::installPrefix(), {}, holdMinutes());
    m_resultText = outcome.message;
    m_resultIsError = !outcome.ok;
    refresh();
}

void HookInstallController::remove()
{
    const HookInstaller::FileOutcome outcome =
        HookInstaller::removeFile(HookInstaller::defaultSettingsPath());
    m_resultText = outcome.message;
    m_resultIsError = !outcome.ok;
    refresh();
}
