/* Test-only helpers: pipes, descriptor flags and limits, and direct calls of the
 * library's exported error raisers. Built at test time; never installed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

#include <Rinternals.h>

SEXP th_pipe(void) {
  int fds[2];
  if (pipe(fds) != 0) Rf_error("pipe: %s", strerror(errno));
  SEXP out = Rf_allocVector(INTSXP, 2);
  INTEGER(out)[0] = fds[0];
  INTEGER(out)[1] = fds[1];
  return out;
}

/* Writes a string through C's buffered standard output, as a C library would. */
SEXP th_stdio_write(SEXP text) {
  fputs(CHAR(STRING_ELT(text, 0)), stdout);
  fflush(stdout);
  return R_NilValue;
}

/* The descriptor flags (F_GETFD) and file status flags (F_GETFL) of fd; NA for both
 * when fd is not open. */
SEXP th_fd_flags(SEXP fd) {
  int n = Rf_asInteger(fd);
  int fd_flags = fcntl(n, F_GETFD);
  int status_flags = fcntl(n, F_GETFL);
  SEXP out = Rf_allocVector(INTSXP, 2);
  INTEGER(out)[0] = fd_flags == -1 ? NA_INTEGER : fd_flags;
  INTEGER(out)[1] = status_flags == -1 ? NA_INTEGER : status_flags;
  return out;
}

/* The open descriptors below 1024, the range the tests use. Not bounded by the limit
 * on open files: descriptors opened before it was lowered stay open above it. */
SEXP th_open_fds(void) {
  enum { range = 1024 };
  int found[range];
  int count = 0;
  for (int fd = 0; fd < range; ++fd)
    if (fcntl(fd, F_GETFD) != -1) found[count++] = fd;
  SEXP out = Rf_allocVector(INTSXP, count);
  memcpy(INTEGER(out), found, sizeof(int) * (size_t)count);
  return out;
}

/* What an open descriptor or a path refers to, as "device:inode"; NA when fstat() or
 * stat() fails. Two descriptors with the same identity refer to the same file. */
static SEXP file_identity(int rc, const struct stat* st) {
  char text[64];
  if (rc != 0) return Rf_ScalarString(NA_STRING);
  snprintf(text, sizeof text, "%llu:%llu", (unsigned long long)st->st_dev,
           (unsigned long long)st->st_ino);
  return Rf_mkString(text);
}

SEXP th_fd_id(SEXP fd) {
  struct stat st;
  return file_identity(fstat(Rf_asInteger(fd), &st), &st);
}

SEXP th_path_id(SEXP path) {
  struct stat st;
  return file_identity(stat(CHAR(STRING_ELT(path, 0)), &st), &st);
}

/* The platform's values of the constants the tests name, and strerror() of each error
 * number among them. */
SEXP th_constants(void) {
  static const struct {
    const char* name;
    int value;
  } constants[] = {
      {"FD_CLOEXEC", FD_CLOEXEC}, {"O_NONBLOCK", O_NONBLOCK}, {"ENOENT", ENOENT},
      {"EBADF", EBADF},           {"EACCES", EACCES},         {"EISDIR", EISDIR},
      {"EMFILE", EMFILE},         {"EPIPE", EPIPE},           {"ENAMETOOLONG", ENAMETOOLONG},
      {"EAGAIN", EAGAIN},         {"EIO", EIO},               {"EFBIG", EFBIG},
      {"ELOOP", ELOOP},
  };
  const int n = (int)(sizeof constants / sizeof constants[0]);
  SEXP values = PROTECT(Rf_allocVector(INTSXP, n));
  SEXP names = PROTECT(Rf_allocVector(STRSXP, n));
  for (int i = 0; i < n; ++i) {
    INTEGER(values)[i] = constants[i].value;
    SET_STRING_ELT(names, i, Rf_mkChar(constants[i].name));
  }
  Rf_setAttrib(values, R_NamesSymbol, names);
  UNPROTECT(2);
  return values;
}

SEXP th_strerror(SEXP error) { return Rf_mkString(strerror(Rf_asInteger(error))); }

/* Writes a string into C's buffered standard output and leaves it in the buffer, as a
 * C library that prints without flushing does. */
SEXP th_stdio_print(SEXP text) {
  fputs(CHAR(STRING_ELT(text, 0)), stdout);
  return R_NilValue;
}

/* Writes a string to C's standard error, which the C library does not buffer. */
SEXP th_stdio_print_stderr(SEXP text) {
  fputs(CHAR(STRING_ELT(text, 0)), stderr);
  return R_NilValue;
}

SEXP th_close(SEXP fd) { return Rf_ScalarInteger(close(Rf_asInteger(fd))); }

SEXP th_dup2(SEXP from, SEXP to) {
  return Rf_ScalarInteger(dup2(Rf_asInteger(from), Rf_asInteger(to)));
}

SEXP th_set_nonblocking(SEXP fd) {
  int flags = fcntl(Rf_asInteger(fd), F_GETFL);
  return Rf_ScalarInteger(fcntl(Rf_asInteger(fd), F_SETFL, flags | O_NONBLOCK));
}

/* Reads up to n bytes with one read. */
SEXP th_read(SEXP fd, SEXP n) {
  char buf[1 << 16];
  int want = Rf_asInteger(n);
  if (want > (int)sizeof buf) want = (int)sizeof buf;
  ssize_t got = read(Rf_asInteger(fd), buf, (size_t)want);
  if (got < 0) got = 0;
  SEXP out = Rf_allocVector(RAWSXP, got);
  memcpy(RAW(out), buf, (size_t)got);
  return out;
}

/* Writes to a non-blocking descriptor until it would block; returns the bytes taken. */
SEXP th_fill(SEXP fd) {
  char buf[4096];
  memset(buf, 'x', sizeof buf);
  double total = 0;
  for (;;) {
    ssize_t n = write(Rf_asInteger(fd), buf, sizeof buf);
    if (n <= 0) break;
    total += (double)n;
  }
  for (;;) { /* top up the last partial page byte by byte */
    ssize_t n = write(Rf_asInteger(fd), buf, 1);
    if (n <= 0) break;
    total += 1;
  }
  return Rf_ScalarReal(total);
}

SEXP th_set_fd_limit(SEXP n) {
  struct rlimit lim;
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = (rlim_t)Rf_asInteger(n);
  return Rf_ScalarInteger(setrlimit(RLIMIT_NOFILE, &lim));
}

/* Limits the size of the files the process writes to `bytes`, with SIGXFSZ ignored so
 * that a write past it fails with EFBIG rather than ending the process. Set from inside
 * the process: an emulator does not pass an inherited ignored signal on to its guest. */
SEXP th_limit_file_size(SEXP bytes) {
  struct rlimit lim;
  getrlimit(RLIMIT_FSIZE, &lim);
  lim.rlim_cur = (rlim_t)Rf_asReal(bytes);
  signal(SIGXFSZ, SIG_IGN);
  return Rf_ScalarInteger(setrlimit(RLIMIT_FSIZE, &lim));
}

/* Duplicates descriptor 0 until the table is full; returns the new descriptors. */
SEXP th_exhaust_fds(void) {
  int fds[4096];
  int count = 0;
  while (count < 4096) {
    int fd = dup(0);
    if (fd == -1) break;
    fds[count++] = fd;
  }
  SEXP out = Rf_allocVector(INTSXP, count);
  memcpy(INTEGER(out), fds, sizeof(int) * (size_t)count);
  return out;
}

typedef void (*throw_error_fn)(const char*, const char*, int, const char*, ...);
typedef void (*throw_system_error_fn)(const char*, const char*, int, int, const char*,
                                      const char*, ...);

static void* client_symbol(SEXP so_path, const char* name) {
  void* lib = dlopen(CHAR(STRING_ELT(so_path, 0)), RTLD_NOW | RTLD_NOLOAD);
  if (lib == NULL) Rf_error("client.so is not loaded");
  void* sym = dlsym(lib, name);
  dlclose(lib);
  if (sym == NULL) Rf_error("%s not exported", name);
  return sym;
}

/* Raises through r_throw_error with a message format and one string argument. */
SEXP th_throw_error(SEXP so_path, SEXP fmt, SEXP arg) {
  throw_error_fn fn;
  /* Copied, not cast: ISO C has no conversion from an object to a function pointer. */
  void* sym = client_symbol(so_path, "r_throw_error");
  memcpy(&fn, &sym, sizeof fn);
  fn("th_throw_error", "testhelper", 42, CHAR(STRING_ELT(fmt, 0)),
     CHAR(STRING_ELT(arg, 0)));
  return R_NilValue;
}

/* Raises through r_throw_system_error; sysmsg NA stands for a null description. */
SEXP th_throw_system_error(SEXP so_path, SEXP error, SEXP sysmsg, SEXP fmt, SEXP arg) {
  throw_system_error_fn fn;
  void* sym = client_symbol(so_path, "r_throw_system_error");
  memcpy(&fn, &sym, sizeof fn);
  SEXP desc = STRING_ELT(sysmsg, 0);
  fn("th_throw_system_error", "testhelper", 7, Rf_asInteger(error),
     desc == NA_STRING ? NULL : CHAR(desc), CHAR(STRING_ELT(fmt, 0)),
     CHAR(STRING_ELT(arg, 0)));
  return R_NilValue;
}

/* Clears the process's capabilities, so that file permissions bind even for root.
 * Returns 0, or -1 where that fails or where the system has no capabilities (only
 * Linux has them: elsewhere root passes file permissions for good). */
SEXP th_drop_capabilities(void) {
#ifdef __linux__
  struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  struct __user_cap_data_struct data[2];
  memset(data, 0, sizeof data);
  return Rf_ScalarInteger((int)syscall(SYS_capset, &header, data));
#else
  return Rf_ScalarInteger(-1);
#endif
}
