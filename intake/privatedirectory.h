#pragma once

#include <QByteArray>
#include <QString>

// Tolvo's folder ~/.tolvo and the files in it. Hook records are prompts and
// tool inputs, so nobody but the user may read the folder, and nothing in it
// is followed through a symbolic link: every file is opened relative to the
// folder's own descriptor with O_NOFOLLOW and checked after opening.
class PrivateDirectory
{
public:
    // ~/.tolvo
    static QString defaultPath();

    // Creates the folder (0700) when it is missing. A folder of the user's
    // with group or other permissions gets them taken away; a symbolic link,
    // anything but a folder, or a folder of another user is refused, and
    // problem() says why.
    explicit PrivateDirectory(const QString &path = defaultPath());
    ~PrivateDirectory();
    PrivateDirectory(const PrivateDirectory &) = delete;
    PrivateDirectory &operator=(const PrivateDirectory &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    QString path() const { return m_path; }
    // Empty while the folder is usable; else one sentence for the user.
    QString problem() const { return m_problem; }

    // A regular file of the user's, created 0600 when missing (whatever the
    // umask), never through a link. -1 with problem() set when it cannot be had.
    int openFile(const char *name, int flags);
    // Replaces `name` with `content` through a new file and a rename, so that
    // a link planted at `name` is replaced, not followed.
    bool replaceFile(const char *name, const QByteArray &content);

    // "~/.tolvo/events" for messages.
    QString shown(const char *name = nullptr) const;

private:
    bool fail(const QString &problem);

    QString m_path;
    int m_fd = -1;
    QString m_problem;
};
