/* Write-only R connections onto a descriptor: made by fd_connection.c, in C, and
 * written through by descriptors.cpp. */
#ifndef CLIENT_FD_CONNECTION_H
#define CLIENT_FD_CONNECTION_H

#include <stddef.h>

#define R_NO_REMAP
#include <Rinternals.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A new connection onto `fd`, open for writing in binary mode, of class
 * "fd_connection" and with `description` as its name. Closing it leaves `fd` open. */
SEXP new_fd_connection(int fd, const char* description);

/* Whether a write to fd can raise SIGPIPE: it is a pipe, a FIFO or a socket, or cannot
 * be told apart from one. */
int can_raise_sigpipe(int fd);

/* Writes all n bytes at data to fd, in order: on after short writes and EINTR, waiting
 * while it would block. With hold_sigpipe, SIGPIPE is held around each write, so that
 * a reader that has gone gives EPIPE. Returns 0, or the errno of the write that failed.
 * R's interrupts are taken while it waits. */
int write_all_to_fd(int fd, const void* data, size_t n, int hold_sigpipe);

/* Raises the R error for a write to fd that failed with err. Never returns. */
void raise_fd_write_error(int fd, int err);

#ifdef __cplusplus
}
#endif

#endif /* CLIENT_FD_CONNECTION_H */
