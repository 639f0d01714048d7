#pragma once

#include "session.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>
#include <array>

// Installs and removes Tolvo's hooks in one agent's settings file for the setup
// sheet, and says where things stand. Every text the sheet shows comes from here,
// for the agent of the tab it is on; the state is read afresh when the element is
// made, when the agent changes and after each action.
class HookInstallController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    // tolvoctl's word for the agent: claude, codex, gemini.
    Q_PROPERTY(QString agent READ agent WRITE setAgent NOTIFY changed)
    // The agents' words in the order of the sheet's tabs.
    Q_PROPERTY(QStringList agents READ agents CONSTANT)
    Q_PROPERTY(QString stateText READ stateText NOTIFY changed)
    Q_PROPERTY(QString resultText READ resultText NOTIFY changed)
    Q_PROPERTY(bool resultIsError READ resultIsError NOTIFY changed)
    Q_PROPERTY(QString prefixProblem READ prefixProblem NOTIFY changed)
    Q_PROPERTY(bool canInstall READ canInstall NOTIFY changed)
    Q_PROPERTY(bool canRemove READ canRemove NOTIFY changed)
    Q_PROPERTY(QString configuration READ configuration NOTIFY changed)
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(QString configurationExplanation READ configurationExplanation NOTIFY changed)
    Q_PROPERTY(QString settingsHeading READ settingsHeading NOTIFY changed)
    Q_PROPERTY(QString settingsExplanation READ settingsExplanation NOTIFY changed)
    Q_PROPERTY(QString settingsPath READ settingsPath NOTIFY changed)
    Q_PROPERTY(QString documentationLabel READ documentationLabel NOTIFY changed)
    Q_PROPERTY(QString documentationUrl READ documentationUrl NOTIFY changed)
    Q_PROPERTY(QString restartHeading READ restartHeading NOTIFY changed)
    Q_PROPERTY(QString restartExplanation READ restartExplanation NOTIFY changed)
    // Claude Code only: whether install also makes its status line report usage to Tolvo.
    Q_PROPERTY(bool offersStatusLine READ offersStatusLine NOTIFY changed)
    Q_PROPERTY(bool shareStatusLine READ shareStatusLine WRITE setShareStatusLine NOTIFY changed)
    Q_PROPERTY(QString shareStatusLineLabel READ shareStatusLineLabel CONSTANT)

public:
    // What the sheet says about setting up one agent, step by step.
    struct Texts
    {
        QString title;
        QString configurationExplanation; // step 1
        QString settingsHeading;          // step 2
        QString settingsExplanation;
        QString documentationLabel;
        QString documentationUrl;
        QString restartHeading; // step 3
        QString restartExplanation;
    };
    static Texts texts(Agent agent);

    explicit HookInstallController(QObject *parent = nullptr);

    QString agent() const;
    void setAgent(const QString &word);
    static QStringList agents();
    // The tab's label: the agent's name.
    Q_INVOKABLE static QString agentName(const QString &word);

    // For Codex also whether Codex runs the hooks yet, as tolvoctl hooks status says.
    QString stateText() const { return m_stateText; }
    // What the last action on this agent's file did; empty before the first one.
    QString resultText() const { return result().text; }
    bool resultIsError() const { return result().isError; }
    // Why this copy of Tolvo cannot be hooked up from where it is; empty when it can.
    QString prefixProblem() const { return m_prefixProblem; }
    bool canInstall() const { return m_canInstall; }
    bool canRemove() const { return m_canRemove; }
    // The agent's hooks configuration, built afresh; instead, the prefix problem.
    QString configuration() const;
    QString title() const { return texts(m_agent).title; }
    QString configurationExplanation() const { return texts(m_agent).configurationExplanation; }
    QString settingsHeading() const { return texts(m_agent).settingsHeading; }
    QString settingsExplanation() const { return texts(m_agent).settingsExplanation; }
    // The settings file install writes, ~ for the home folder.
    QString settingsPath() const;
    QString documentationLabel() const { return texts(m_agent).documentationLabel; }
    QString documentationUrl() const { return texts(m_agent).documentationUrl; }
    QString restartHeading() const { return texts(m_agent).restartHeading; }
    QString restartExplanation() const { return texts(m_agent).restartExplanation; }

    bool offersStatusLine() const { return m_agent == Agent::claudeCode; }
    // On by default; install leaves the status line alone without it.
    bool shareStatusLine() const { return m_shareStatusLine; }
    void setShareStatusLine(bool share);
    static QString shareStatusLineLabel();

    Q_INVOKABLE void refresh() { update(false); }
    Q_INVOKABLE void install();
    Q_INVOKABLE void remove();
    // Replaces whatever the clipboard held with configuration().
    Q_INVOKABLE void copyConfiguration() const;

Q_SIGNALS:
    void changed();

private:
    struct Result
    {
        QString text;
        bool isError = false;
    };
    const Result &result() const { return m_results[std::size_t(m_agent)]; }
    // `justChanged`: install just wrote the file, which Codex has not trusted since.
    void update(bool justChanged);

    Agent m_agent = Agent::claudeCode;
    std::array<Result, 3> m_results;
    QString m_stateText;
    QString m_prefixProblem;
    bool m_canInstall = false;
    bool m_canRemove = false;
    bool m_shareStatusLine = true;
};
