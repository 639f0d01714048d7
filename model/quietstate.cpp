#include "quietstate.h"

#include "defaultsstore.h"
#include "settingstable.h"

QuietState::QuietState(DefaultsStore &defaults, QObject *parent)
    : QObject(parent), m_defaults(defaults)
{
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, [this] {
        armExpiry(); // a long wait comes in steps
        Q_EMIT changed();
    });
    connect(&m_defaults, &DefaultsStore::valueChanged, this, [this](const QString &key) {
        if (key == Settings::quietUntil) {
            armExpiry();
            Q_EMIT changed();
        }
    });
    armExpiry();
}

Quiet::State QuietState::state() const
{
    const auto value = [this](const QString &key) {
        return Settings::value(m_defaults, *Settings::find(key));
    };
    return {Quiet::untilOf(value(Settings::quietUntil).toString()), m_inhibited,
            value(Settings::completedAfterSeconds).toInt()};
}

QString QuietState::text() const
{
    return Quiet::describe(state(), wallClockNow());
}

QString QuietState::token() const
{
    return Quiet::reasonToken(state(), wallClockNow());
}

void QuietState::setInhibited(bool inhibited)
{
    if (inhibited == m_inhibited)
        return;
    m_inhibited = inhibited;
    Q_EMIT changed();
}

void QuietState::setUntil(WallClockTime until)
{
    Settings::setValue(m_defaults, *Settings::find(Settings::quietUntil),
                       Quiet::storedUntil(until));
}

bool QuietState::choose(const QString &choice)
{
    const std::optional<WallClockTime> until = Quiet::untilFor(choice, wallClockNow());
    if (until)
        setUntil(*until);
    return until.has_value();
}

void QuietState::armExpiry()
{
    const WallClockTime until = state().until, now = wallClockNow();
    if (until > now && until < Quiet::forever)
        m_expiry.start(int(std::min<WallClockTime>((until - now) * 1000 + 200, 6 * 3600 * 1000)));
    else
        m_expiry.stop();
}
