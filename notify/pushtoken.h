#pragma once

#include <QObject>

// The push server's access token in the desktop keyring (the Secret Service
// through QtKeychain), under the service "tolvo". Never in a file: without a
// keyring, nothing is stored. Every call returns at once; a signal tells the
// outcome on the calling thread.
class PushToken : public QObject
{
    Q_OBJECT
public:
    static inline const QString service = QStringLiteral("tolvo");
    static inline const QString key = QStringLiteral("ntfy-token");

    using QObject::QObject;

    // What a server may be sent: printable ASCII without spaces, as ntfy's
    // tokens are; a reason when it is not.
    static QString problemWith(const QString &token);

    void read();
    void write(const QString &token);
    void remove();

Q_SIGNALS:
    // `token` empty when none is stored or there is no keyring to ask;
    // `problem` non-empty when the keyring refused.
    void tokenRead(const QString &token, const QString &problem);
    void tokenWritten(const QString &problem);
    void tokenRemoved(const QString &problem);
};
