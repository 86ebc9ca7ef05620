// Opening files and streams with close-on-exec, also on C libraries that
// ignore O_CLOEXEC or the "e" mode letter.
//
// The pointers below are chosen once by probing, before main() runs, and are
// read-only afterwards. Callers always go through them and ask for
// close-on-exec in the stream forms with an "e" in the mode ("re", "we").
#ifndef RUNTIME_COMPAT_OPEN_H
#define RUNTIME_COMPAT_OPEN_H

#include <cstdio>

// (path, flags[, mode]) -> descriptor or -1; always close-on-exec.
typedef int (*open_cloexec_t)(const char* path, int flags, ...);
typedef FILE* (*fopen_compat_t)(const char* path, const char* mode);
typedef FILE* (*freopen_compat_t)(const char* path, const char* mode, FILE* stream);
typedef FILE* (*fdopen_compat_t)(int fd, const char* mode);
typedef FILE* (*popen_compat_t)(const char* command, const char* mode);

extern open_cloexec_t open_cloexec;
extern fopen_compat_t fopen_compat;
extern freopen_compat_t freopen_compat;
extern fdopen_compat_t fdopen_compat;
extern popen_compat_t popen_compat;
// 1 when open_cloexec is open_cloexec_direct, 0 otherwise.
extern int o_cloexec_enabled_;

// open() with O_CLOEXEC added. The mode argument is read only with O_CREAT.
int open_cloexec_direct(const char* path, int flags, ...);
// open() with the flags unchanged, then FD_CLOEXEC set on the descriptor.
// The descriptor, or -1 with errno (the descriptor is closed when setting
// the flag fails).
int open_cloexec_indirect(const char* path, int flags, ...);

// The C library function, then FD_CLOEXEC on the stream's descriptor when
// `mode` contains "e". The stream or null.
FILE* fopen_indirect(const char* path, const char* mode);
FILE* freopen_indirect(const char* path, const char* mode, FILE* stream);
FILE* fdopen_indirect(int fd, const char* mode);
FILE* popen_indirect(const char* command, const char* mode);

// Adds FD_CLOEXEC to the descriptor flags of `fd`: the result of the
// F_SETFD call, or -1 when the flags cannot be read.
int enable_fd_cloexec(int fd);

int o_cloexec_enabled();

// Fills every pointer that is still null from its probe and sets
// o_cloexec_enabled_. Runs as a static initialiser; calling it again is
// harmless.
void init_compat_opens();

#endif
