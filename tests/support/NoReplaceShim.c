// Preloaded by tests: a file system that refuses no-replace renames and hard links, as FUSE FAT and some
// network shares do.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
    if (flags & RENAME_NOREPLACE) {
        errno = EINVAL;
        return -1;
    }
    int (*real)(int, const char*, int, const char*, unsigned int) =
        (int (*)(int, const char*, int, const char*, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    return real(olddirfd, oldpath, newdirfd, newpath, flags);
}

int link(const char* oldpath, const char* newpath) {
    (void)oldpath;
    (void)newpath;
    errno = EPERM;
    return -1;
}

int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
    (void)olddirfd;
    (void)oldpath;
    (void)newdirfd;
    (void)newpath;
    (void)flags;
    errno = EPERM;
    return -1;
}
