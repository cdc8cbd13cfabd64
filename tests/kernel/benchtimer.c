/* SPDX-License-Identifier: MIT */
/*
 * benchtimer: the benchmark's clock inside the test VM.
 *
 *   benchtimer [-r ROUNDS] [-w WARMUP] [-d DEPTHFILE] [-t TMPDIR]
 *              -- LABEL PROG [ARGS...] [-- LABEL PROG [ARGS...]]...
 *
 * Each round runs every command once, in the order given; WARMUP rounds
 * (default 1) come first and are reported but marked as such. A run is
 * timed with CLOCK_MONOTONIC from just before posix_spawn() to just after
 * waitpid() returns, so it covers everything the run costs the system:
 * exec, the dynamic loader if any, the program, its exit. The program's
 * standard input is /dev/null; its standard output and error go to two
 * regular files (opened and emptied before the clock starts), which are
 * read back after it.
 *
 * DEPTHFILE (default the sysfs bits_per_pixel of fb0) is read before and
 * after each run, outside the timed span, so that the caller can check
 * that every run changed the depth as it should.
 *
 * Output on stdout, one record a line:
 *   clock res_ns=N
 *   run SEQ ROUND LABEL PHASE NS STATUS DEPTH_BEFORE DEPTH_AFTER
 *   out SEQ TEXT
 *   err SEQ TEXT
 *   end RUNS
 * PHASE is "warmup" or "timed"; STATUS the exit status, or "signal:N";
 * TEXT the run's output with backslash, newline and bytes outside printable
 * ASCII escaped as \\, \n and \xHH. Exit status 0 when every run could be
 * started and waited for, 1 otherwise, 2 on a usage error.
 */
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

#define MAX_COMMANDS 16

struct command {
    const char *label;
    char **argv;
};

static int usage(void)
{
    fputs("usage: benchtimer [-r ROUNDS] [-w WARMUP] [-d DEPTHFILE] [-t TMPDIR]"
          " -- LABEL PROG [ARGS...] [-- LABEL PROG [ARGS...]]...\n",
          stderr);
    return 2;
}

static int parse_count(const char *s, long *out)
{
    char *end;
    errno = 0;
    long v = strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < 0 || v > 1000000)
        return 0;
    *out = v;
    return 1;
}

/* The depth as the file shows it, or -1 when it cannot be read. */
static long read_depth(const char *path)
{
    char buf[32];
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return -1;
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return -1;
    buf[n] = '\0';
    char *end;
    long v = strtol(buf, &end, 10);
    if (end == buf)
        return -1;
    return v;
}

static int64_t ns_between(const struct timespec *a, const struct timespec *b)
{
    return (int64_t)(b->tv_sec - a->tv_sec) * 1000000000 + (b->tv_nsec - a->tv_nsec);
}

/* Prints "KIND SEQ TEXT" with TEXT the escaped contents of fd. */
static int dump(const char *kind, long seq, int fd)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        return 0;
    printf("%s %ld ", kind, seq);
    unsigned char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < n; i++) {
            unsigned char c = buf[i];
            if (c == '\\')
                fputs("\\\\", stdout);
            else if (c == '\n')
                fputs("\\n", stdout);
            else if (c >= 0x20 && c < 0x7f)
                putchar(c);
            else
                printf("\\x%02x", c);
        }
    }
    putchar('\n');
    return n == 0;
}

static int empty(int fd)
{
    return ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0;
}

static int open_capture(const char *dir, const char *name)
{
    char path[4096];
    if (snprintf(path, sizeof path, "%s/benchtimer.%ld.%s", dir, (long)getpid(), name) >=
        (int)sizeof path)
        return -1;
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0)
        unlink(path);
    return fd;
}

int main(int argc, char **argv)
{
    long rounds = 100, warmup = 1;
    const char *depth_file = "/sys/class/graphics/fb0/bits_per_pixel";
    const char *tmpdir = "/tmp";
    int opt;
    while ((opt = getopt(argc, argv, "+r:w:d:t:")) != -1) {
        switch (opt) {
        case 'r':
            if (!parse_count(optarg, &rounds))
                return usage();
            break;
        case 'w':
            if (!parse_count(optarg, &warmup))
                return usage();
            break;
        case 'd':
            depth_file = optarg;
            break;
        case 't':
            tmpdir = optarg;
            break;
        default:
            return usage();
        }
    }
    /* getopt has consumed the first "--". */
    struct command cmds[MAX_COMMANDS];
    int ncmds = 0;
    int i = optind;
    while (i < argc) {
        if (ncmds == MAX_COMMANDS || i + 1 >= argc)
            return usage();
        cmds[ncmds].label = argv[i];
        cmds[ncmds].argv = &argv[i + 1];
        int j = i + 1;
        while (j < argc && strcmp(argv[j], "--") != 0)
            j++;
        if (j == i + 1 || strchr(argv[i], ' ') != NULL)
            return usage();
        argv[j < argc ? j : argc] = NULL; /* ends this command's argv */
        ncmds++;
        i = j + 1;
    }
    if (ncmds == 0)
        return usage();

    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out_fd = open_capture(tmpdir, "out");
    int err_fd = open_capture(tmpdir, "err");
    if (null_fd < 0 || out_fd < 0 || err_fd < 0) {
        perror("benchtimer: opening /dev/null or the capture files");
        return 1;
    }
    posix_spawn_file_actions_t fa;
    if (posix_spawn_file_actions_init(&fa) != 0 ||
        posix_spawn_file_actions_adddup2(&fa, null_fd, 0) != 0 ||
        posix_spawn_file_actions_adddup2(&fa, out_fd, 1) != 0 ||
        posix_spawn_file_actions_adddup2(&fa, err_fd, 2) != 0) {
        fputs("benchtimer: posix_spawn_file_actions failed\n", stderr);
        return 1;
    }

    struct timespec res;
    clock_getres(CLOCK_MONOTONIC, &res);
    printf("clock res_ns=%ld\n", (long)res.tv_nsec);

    long seq = 0;
    int ok = 1;
    for (long round = 0; round < warmup + rounds && ok; round++) {
        for (int c = 0; c < ncmds && ok; c++) {
            long before = read_depth(depth_file);
            if (!empty(out_fd) || !empty(err_fd)) {
                perror("benchtimer: emptying the capture files");
                ok = 0;
                break;
            }
            struct timespec t0, t1;
            pid_t pid;
            clock_gettime(CLOCK_MONOTONIC, &t0);
            int rc = posix_spawn(&pid, cmds[c].argv[0], &fa, NULL, cmds[c].argv, environ);
            int ws = 0;
            if (rc == 0) {
                while (waitpid(pid, &ws, 0) < 0) {
                    if (errno != EINTR) {
                        rc = errno;
                        break;
                    }
                }
            }
            clock_gettime(CLOCK_MONOTONIC, &t1);
            if (rc != 0) {
                fprintf(stderr, "benchtimer: running %s: %s\n", cmds[c].argv[0], strerror(rc));
                ok = 0;
                break;
            }
            long after = read_depth(depth_file);
            char status[32];
            if (WIFEXITED(ws))
                snprintf(status, sizeof status, "%d", WEXITSTATUS(ws));
            else
                snprintf(status, sizeof status, "signal:%d", WIFSIGNALED(ws) ? WTERMSIG(ws) : -1);
            printf("run %ld %ld %s %s %lld %s %ld %ld\n", seq, round - warmup, cmds[c].label,
                   round < warmup ? "warmup" : "timed", (long long)ns_between(&t0, &t1), status,
                   before, after);
            if (!dump("out", seq, out_fd) || !dump("err", seq, err_fd)) {
                perror("benchtimer: reading the capture files");
                ok = 0;
            }
            seq++;
        }
    }
    printf("end %ld\n", seq);
    posix_spawn_file_actions_destroy(&fa);
    if (fflush(stdout) != 0)
        return 1;
    return ok ? 0 : 1;
}
