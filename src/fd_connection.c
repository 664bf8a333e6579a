/* R connections onto a descriptor: the glue to R's connection interface. This file is
 * C because R_ext/Connections.h names two members of its struct `class` and `private`,
 * which C++ cannot compile. How the bytes are written lives in descriptors.cpp. */
#include <stdlib.h>

#define R_NO_REMAP
#include <Rinternals.h>
/* After Rinternals.h, which defines SEXP. */
#include <R_ext/Connections.h>

#include "fd_connection.h"

#if R_CONNECTIONS_VERSION != 1
#error "this file is written for version 1 of R's connection interface"
#endif

/* What a connection holds: the descriptor, which stays the caller's, whether its writes
 * can raise SIGPIPE, as it was when the connection was made, and the error that broke
 * it, 0 until a write fails. */
struct fd_target {
  int fd;
  int hold_sigpipe;
  int error;
};

/* A broken connection takes nothing more, without a word: R prints the error of the
 * failed write through the message sink, which may be this very connection. */
static size_t write_bytes(const void* data, size_t size, size_t n, Rconnection con) {
  struct fd_target* target = (struct fd_target*)con->private;
  if (target->error != 0) return 0;
  const int err = write_all_to_fd(target->fd, data, size * n, target->hold_sigpipe);
  if (err != 0) {
    target->error = err;
    raise_fd_write_error(target->fd, err);
  }
  return n;
}

/* Closing leaves the descriptor open: it belongs to whoever handed it over. */
static void close_connection(Rconnection con) { con->isopen = FALSE; }

static void destroy_connection(Rconnection con) {
  free(con->private);
  con->private = NULL;
}

SEXP new_fd_connection(int fd, const char* description) {
  Rconnection con = NULL;
  /* R raises when its table of connections is full: nothing is held yet. */
  SEXP out = PROTECT(R_new_custom_connection(description, "wb", "fd_connection", &con));
  con->text = FALSE;
  con->canread = FALSE;
  con->canwrite = TRUE;
  con->canseek = FALSE;
  con->blocking = TRUE;
  con->write = &write_bytes;
  con->close = &close_connection;
  con->destroy = &destroy_connection;
  /* Unopened, a connection that fails here is reclaimed by R's garbage collector. */
  struct fd_target* target = (struct fd_target*)malloc(sizeof *target);
  if (target == NULL) Rf_error("Cannot allocate a connection onto fd %d", fd);
  target->fd = fd;
  target->hold_sigpipe = can_raise_sigpipe(fd);
  target->error = 0;
  con->private = target;
  con->isopen = TRUE;
  UNPROTECT(1);
  return out;
}
