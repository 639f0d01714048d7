#include "pushtoken.h"

#include "notifylog.h"

#include <qt6keychain/keychain.h>

using namespace Qt::StringLiterals;

namespace {

QString describe(const QKeychain::Job &job)
{
    const QString detail = job.errorString();
    return u"The keyring: "_s + (detail.isEmpty() ? u"error %1"_s.arg(int(job.error())) : detail);
}

template<typename Job> Job *startJob(QObject *owner)
{
    auto *job = new Job(PushToken::service, owner);
    job->setKey(PushToken::key);
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // a keyring or nothing, never a file
    return job;
}

} // namespace

QString PushToken::problemWith(const QString &token)
{
    if (token.isEmpty())
        return u"The token is empty."_s;
    if (token.size() > 512)
        return u"The token is longer than 512 characters."_s;
    for (const QChar c : token) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return u"A token is letters, digits and punctuation, without spaces."_s;
    }
    return {};
}

void PushToken::read()
{
    auto *job = startJob<QKeychain::ReadPasswordJob>(this);
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        switch (job->error()) {
        case QKeychain::NoError:
            Q_EMIT tokenRead(job->textData(), {});
            break;
        case QKeychain::EntryNotFound:
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
            Q_EMIT tokenRead({}, {});
            break;
        default:
            qCInfo(lcNotify).noquote() << "Reading the push token:" << job->errorString();
            Q_EMIT tokenRead({}, describe(*job));
        }
    });
    job->start();
}

void PushToken::write(const QString &token)
{
    auto *job = startJob<QKeychain::WritePasswordJob>(this);
    job->setTextData(token);
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        Q_EMIT tokenWritten(job->error() == QKeychain::NoError ? QString() : describe(*job));
    });
    job->start();
}

void PushToken::remove()
{
    auto *job = startJob<QKeychain::DeletePasswordJob>(this);
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        const bool gone =
            job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
        Q_EMIT tokenRemoved(gone ? QString() : describe(*job));
    });
    job->start();
}
