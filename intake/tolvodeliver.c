/*
 * tolvo-deliver: writes the hook record on standard input into Tolvo's event
 * pipe ~/.tolvo/events. tolvo.sh runs it once it has seen that Tolvo is
 * running.
 *
 * Claude Code waits for every hook, so this never takes long: one deadline of
 * about a second covers waiting for the writers' lock, opening the pipe and
 * writing, even when Tolvo is frozen and the pipe is full. It never creates
 * anything at the pipe's path, never prints and always exits 0.
 *
 * Writers hold an exclusive flock on ~/.tolvo/events.lock from before their
 * open of the pipe until after their close. That keeps records larger than
 * PIPE_BUF from interleaving, and lets the reader replace the pipe after end
 * of file without losing a writer that opened the old one.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

enum {
    total_budget_us = 1000000,
    /* The reader deletes and re-creates the pipe after every end of file. */
    reopen_window_us = 50000,
    reopen_pause_us = 1000,
    /* Repeats the alarm in case the first one fires before flock() sleeps. */
    alarm_repeat_us = 10000,
};

static long long now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

static void on_alarm(int signal_number)
{
    (void)signal_number;
}

/* Standard input whole, after one reserved byte at the front, with a line
 * feed at the end. */
static char *read_record(size_t *length)
{
    size_t capacity = 64 * 1024;
    size_t used = 1;
    char *data = malloc(capacity);
    if (!data)
        return NULL;
    for (;;) {
        if (capacity - used < 2) {
            char *larger = realloc(data, capacity * 2);
            if (!larger) {
                free(data);
                return NULL;
            }
            data = larger;
            capacity *= 2;
        }
        const ssize_t count = read(STDIN_FILENO, data + used, capacity - used - 1);
        if (count > 0)
            used += (size_t)count;
        else if (count < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    if (used == 1) {
        free(data);
        return NULL;
    }
    if (data[used - 1] != '\n')
        data[used++] = '\n';
    *length = used - 1;
    return data;
}

static int lock_until(int fd, long long deadline)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return 1;
    if (errno != EWOULDBLOCK)
        return 1; /* cannot lock here at all: write unlocked */

    struct sigaction action = {0};
    action.sa_handler = on_alarm; /* no SA_RESTART: the alarm ends flock() */
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, NULL);

    const long long left = deadline - now_us();
    if (left <= 0)
        return 0;
    struct itimerval timer = {{0, alarm_repeat_us}, {left / 1000000, left % 1000000}};
    if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0)
        timer.it_value.tv_usec = 1;
    setitimer(ITIMER_REAL, &timer, NULL);
    int locked = 0;
    while (!locked && now_us() < deadline) {
        if (flock(fd, LOCK_EX) == 0)
            locked = 1;
        else if (errno != EINTR)
            break;
    }
    const struct itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, NULL);
    return locked;
}

/* ENOENT and ENXIO mean the reader is between two pipes or not there yet. */
static int open_pipe(const char *path, long long deadline)
{
    long long give_up = now_us() + reopen_window_us;
    if (give_up > deadline)
        give_up = deadline;
    for (;;) {
        const int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0)
            return fd;
        if (errno == EINTR)
            continue;
        if ((errno != ENOENT && errno != ENXIO) || now_us() >= give_up)
            return -1;
        const struct timespec pause = {0, reopen_pause_us * 1000L};
        nanosleep(&pause, NULL);
    }
}

static size_t write_until(int fd, const char *data, size_t length, long long deadline)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t count = write(fd, data + done, length - done);
        if (count > 0) {
            done += (size_t)count;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN)
            break; /* EPIPE: the reader went away */
        const long long left = deadline - now_us();
        if (left <= 0)
            break;
        struct pollfd watch = {fd, POLLOUT, 0};
        const int ready = poll(&watch, 1, (int)((left + 999) / 1000));
        if (ready < 0 && errno != EINTR)
            break;
        if (watch.revents & (POLLERR | POLLHUP))
            break;
    }
    return done;
}

/* Writes `length` bytes of `record` (which starts with a spare byte) into the
 * pipe, within the time budget; gives up silently on any failure. */
static void deliver(char *record, size_t length)
{
    const char *home = getenv("HOME");
    if (!home || !*home) {
        const struct passwd *user = getpwuid(getuid());
        home = user ? user->pw_dir : NULL;
    }
    if (!home)
        return;
    char pipe_path[PATH_MAX];
    char lock_path[PATH_MAX];
    if (snprintf(pipe_path, sizeof pipe_path, "%s/.tolvo/events", home) >= (int)sizeof pipe_path ||
        snprintf(lock_path, sizeof lock_path, "%s/.tolvo/events.lock", home) >=
            (int)sizeof lock_path)
        return;

    const long long deadline = now_us() + total_budget_us;
    const int lock_fd = open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock_fd >= 0 && !lock_until(lock_fd, deadline))
        return;

    const int pipe_fd = open_pipe(pipe_path, deadline);
    struct stat status;
    if (pipe_fd < 0 || fstat(pipe_fd, &status) != 0 || !S_ISFIFO(status.st_mode))
        return;

    /* A writer that ran out of time halfway through its record leaves a mark
     * in the lock file; the next record then starts on a line of its own, so
     * that only the cut one is lost. */
    char mark = 0;
    const int after_cut = lock_fd >= 0 && pread(lock_fd, &mark, 1, 0) == 1;
    record[0] = '\n';
    const char *data = after_cut ? record : record + 1;
    const size_t size = after_cut ? length + 1 : length;
    const size_t written = write_until(pipe_fd, data, size, deadline);
    if (lock_fd >= 0) {
        if (written > 0 && written < size) {
            if (pwrite(lock_fd, "1", 1, 0) != 1) {
                /* nothing more to do */
            }
        } else if (written == size && after_cut) {
            if (ftruncate(lock_fd, 0) != 0) {
                /* the next writer adds one blank line; harmless */
            }
        }
    }
    close(pipe_fd); /* before the lock goes with the process */
}

int main(void)
{
    signal(SIGPIPE, SIG_IGN);

    size_t length = 0;
    char *record = read_record(&length);
    if (record) {
        deliver(record, length);
        free(record);
    }
    return 0;
}
