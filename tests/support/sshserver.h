#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

// A real OpenSSH server on a free loopback port, into which the local account
// tolvo-remote-test logs in with a key made for the run; the client's configuration
// calls it "devbox". The account is kept after the run, since creating one takes a
// while; its home is emptied when the server first starts, so tests that use one run
// one at a time (CTest's RESOURCE_LOCK tolvo-remote-test). Needs root and /usr/sbin/sshd.
class SshServer
{
public:
    static constexpr const char *user = "tolvo-remote-test";

    // Why no server can run here, for QSKIP; empty when one can.
    static QString unavailable();

    SshServer() = default;
    ~SshServer();
    SshServer(const SshServer &) = delete;
    SshServer &operator=(const SshServer &) = delete;

    // The first start makes the account (when missing), keys and configuration; later
    // ones listen on the same port again. False with error() when it did not start.
    bool start();
    // Ends the server and every process of the account, so that connections drop;
    // processes named (by /proc/PID/comm) in `spared` live on, as on a real host
    // whose network went away.
    void stop(const QStringList &spared = {});
    bool running() const { return m_sshd.state() == QProcess::Running; }
    QString error() const { return m_error; }

    // `ssh -F CONFIG devbox`: a transport that reaches the account.
    QString transport() const;
    QString home() const { return m_home; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    int port() const { return m_port; }
    // Deletes everything in the account's home.
    void clearHome() const;

private:
    bool prepare();
    bool run(const QString &program, const QStringList &arguments);

    QTemporaryDir m_dir;
    QProcess m_sshd;
    QString m_error;
    QString m_home;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    int m_port = 0;
    int m_lock = -1; // held while this server owns the account
};
