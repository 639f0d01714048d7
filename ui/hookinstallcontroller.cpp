#include "hookinstallcontroller.h"

#include "codextrust.h"
#include "defaultsstore.h"
#include "hookconfiguration.h"
#include "hookinstaller.h"
#include "settingstable.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

constexpr std::array allAgents{Agent::claudeCode, Agent::codex, Agent::gemini};

// The PermissionRequest hook's timeout follows the hold the user set.
int holdMinutes()
{
    return Settings::holdBoundMinutes(DefaultsStore());
}

} // namespace

HookInstallController::Texts HookInstallController::texts(Agent agent)
{
    const QString name = ::agentName(agent);
    Texts texts{
        QStringLiteral("Configure %1").arg(name),
        QStringLiteral("This hooks configuration section tells %1 to send events to Tolvo.")
            .arg(name),
        QStringLiteral("Step 2: Add to %1 settings").arg(name),
        QStringLiteral("Open the settings file and paste the hooks configuration into it."),
        QStringLiteral("View Hooks Documentation"),
        {},
        QStringLiteral("Step 3: Restart %1 and enter a prompt").arg(name),
        QStringLiteral("After saving the settings file, restart any running %1 sessions for the "
                       "changes to take effect.")
            .arg(name),
    };
    switch (agent) {
    case Agent::claudeCode:
        texts.documentationLabel = QStringLiteral("View Settings Documentation");
        texts.documentationUrl = QStringLiteral("https://code.claude.com/docs/en/settings");
        break;
    case Agent::codex:
        // Codex reads its hooks from a file of their own, and runs none it was not told to trust.
        texts.settingsExplanation =
            QStringLiteral("Open the hooks file and paste the hooks configuration into it.");
        texts.documentationUrl = QStringLiteral("https://developers.openai.com/codex/hooks");
        texts.restartHeading =
            QStringLiteral("Step 3: Trust the hooks in Codex and enter a prompt");
        texts.restartExplanation = QStringLiteral(
            "After saving the hooks file, start codex and choose \"Trust all and continue\" in its "
            "\"Hooks need review\" dialog (or review them under /hooks). Codex runs Tolvo's hooks "
            "only once you trust them, and asks again after each change to them.");
        break;
    case Agent::gemini:
        texts.documentationUrl = QStringLiteral("https://geminicli.com/docs/hooks/");
        break;
    }
    return texts;
}

HookInstallController::HookInstallController(QObject *parent) : QObject(parent)
{
    refresh();
}

QString HookInstallController::agent() const
{
    return HookConfiguration::agentWord(m_agent);
}

void HookInstallController::setAgent(const QString &word)
{
    const std::optional<Agent> agent = HookConfiguration::agentNamed(word);
    if (!agent || *agent == m_agent)
        return;
    m_agent = *agent;
    refresh();
}

QStringList HookInstallController::agents()
{
    QStringList words;
    for (const Agent agent : allAgents)
        words.append(HookConfiguration::agentWord(agent));
    return words;
}

QString HookInstallController::agentName(const QString &word)
{
    const std::optional<Agent> agent = HookConfiguration::agentNamed(word);
    return agent ? ::agentName(*agent) : QString();
}

QString HookInstallController::configuration() const
{
    if (!m_prefixProblem.isEmpty())
        return m_prefixProblem;
    return HookConfiguration::hooksConfiguration(HookConfiguration::installPrefix(), holdMinutes(),
                                                 m_agent);
}

QString HookInstallController::settingsPath() const
{
    return HookInstaller::shownPath(HookInstaller::defaultSettingsPath(m_agent));
}

void HookInstallController::setShareStatusLine(bool share)
{
    if (share == m_shareStatusLine)
        return;
    m_shareStatusLine = share;
    refresh();
}

QString HookInstallController::shareStatusLineLabel()
{
    return QStringLiteral("Show usage: Tolvo shares Claude Code's status line and keeps yours");
}

void HookInstallController::update(bool justChanged)
{
    using HookInstaller::State;
    const QString path = HookInstaller::defaultSettingsPath(m_agent);
    const HookInstaller::Inspection inspection = HookInstaller::inspectFile(
        path, HookConfiguration::installPrefix(), holdMinutes(), m_agent);
    m_stateText = HookInstaller::describe(inspection, m_agent);
    // Codex runs none of them before the user trusts them there.
    if (m_agent == Agent::codex && inspection.state == State::Installed) {
        const QString note = CodexTrust::note(path, justChanged);
        if (!note.isEmpty())
            m_stateText += u'\n' + note;
    }
    m_canInstall = inspection.state != State::Installed && inspection.state != State::Invalid;
    if (offersStatusLine() && inspection.state != State::Invalid) {
        using HookInstaller::StatusLineState;
        const HookInstaller::StatusLineInspection line =
            HookInstaller::inspectStatusLineFile(path, HookConfiguration::installPrefix());
        m_stateText += u'\n' + HookInstaller::describe(line);
        // Install would make it Tolvo's.
        if (m_shareStatusLine &&
            (line.state == StatusLineState::Absent || line.state == StatusLineState::User ||
             line.state == StatusLineState::OtherHelper))
            m_canInstall = true;
    }
    m_canRemove = inspection.state != State::NotInstalled && inspection.state != State::Invalid;
    const QString problem = HookConfiguration::prefixProblem();
    m_prefixProblem = problem.isEmpty() ? problem : problem + u'.';
    Q_EMIT changed();
}

void HookInstallController::install()
{
    const HookInstaller::FileOutcome outcome = HookInstaller::installFile(
        HookInstaller::defaultSettingsPath(m_agent), HookConfiguration::installPrefix(), {},
        holdMinutes(), m_agent, offersStatusLine() && m_shareStatusLine);
    m_results[std::size_t(m_agent)] = {outcome.message, !outcome.ok};
    update(outcome.changed);
}

void HookInstallController::remove()
{
    const HookInstaller::FileOutcome outcome =
        HookInstaller::removeFile(HookInstaller::defaultSettingsPath(m_agent), {}, m_agent);
    m_results[std::size_t(m_agent)] = {outcome.message, !outcome.ok};
    update(false);
}

void HookInstallController::copyConfiguration() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(configuration());
}
