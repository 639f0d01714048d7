#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// Installs and removes Tolvo's hooks in Claude Code's settings file for the setup
// sheet, and says where things stand. Every text the sheet shows about it comes
// from here; the state is read afresh when the element is made and after each action.
class HookInstallController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString stateText READ stateText NOTIFY changed)
    Q_PROPERTY(QString resultText READ resultText NOTIFY changed)
    Q_PROPERTY(bool resultIsError READ resultIsError NOTIFY changed)
    Q_PROPERTY(QString prefixProblem READ prefixProblem NOTIFY changed)
    Q_PROPERTY(bool canInstall READ canInstall NOTIFY changed)
    Q_PROPERTY(bool canRemove READ canRemove NOTIFY changed)

public:
    explicit HookInstallController(QObject *parent = nullptr);

    QString stateText() const { return m_stateText; }
    // What the last action did; empty before the first one.
    QString resultText() const { return m_resultText; }
    bool resultIsError() const { return m_resultIsError; }
    // Why this copy of Tolvo cannot be hooked up from where it is; empty when it can.
    QString prefixProblem() const { return m_prefixProblem; }
    bool canInstall() const { return m_canInstall; }
    bool canRemove() const { return m_canRemove; }

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void install();
    Q_INVOKABLE void remove();

Q_SIGNALS:
    void changed();

private:
    QString m_stateText;
    QString m_resultText;
    bool m_resultIsError = false;
    QString m_prefixProblem;
    bool m_canInstall = false;
    bool m_canRemove = false;
};
