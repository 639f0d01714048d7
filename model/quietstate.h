#pragma once

#include "quiet.h"

#include <QObject>
#include <QTimer>

class DefaultsStore;

// Whether Tolvo is quiet now, and why: do not disturb as tolvo.ini keeps it,
// and the notification server's pause as the desktop reports it. Tells
// `changed` when either begins or ends, also when do not disturb runs out.
class QuietState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(bool doNotDisturb READ doNotDisturb NOTIFY changed)
public:
    explicit QuietState(DefaultsStore &defaults, QObject *parent = nullptr);

    Quiet::State state() const;
    // Quiet::describe and Quiet::reasonToken of now.
    QString text() const;
    QString token() const;
    bool doNotDisturb() const { return state().until > wallClockNow(); }

    void setInhibited(bool inhibited);
    // Do not disturb until then (0: off, Quiet::forever).
    void setUntil(WallClockTime until);
    // A choice of the menus (Quiet::untilFor); false for an unknown one.
    Q_INVOKABLE bool choose(const QString &choice);

Q_SIGNALS:
    void changed();

private:
    void armExpiry();

    DefaultsStore &m_defaults;
    bool m_inhibited = false;
    QTimer m_expiry;
};
