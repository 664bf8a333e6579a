# The errors the package raises. Each has the class client_error, and most one of these
# on top of it, so that tryCatch() can take them by kind:
#   client_bad_argument      an argument is not what the function takes; field
#                            `argument`, its name
#   client_malformed_base64  text is not base64 under the options; fields `offset`
#                            (counted from 1) and `byte` of the offending byte, NA for
#                            a length that is not right
#   client_system_error      a system call failed; fields `errno`, and `fd` or `path`
#                            where there is one
# Their messages are those the package always gave, system errors raised by the
# routines included.

# An error condition of the package with `message`, attributed to `call`, of the kind
# `class` (none: client_error alone), with the fields in `...`.
client_error <- function(message, call, class = NULL, ...) {
  structure(class = c(class, "client_error", "error", "condition"),
    list(message = message, call = call, ...))
}

# The error `e`, raised on the way to `call`, as an error of the package: as it is when
# it is one already; else, with its message, a client_system_error when the message
# names a system error (as the routines' messages do), with `fd` or `path`.
as_client_error <- function(e, call, fd = NULL, path = NULL) {
  if (inherits(e, "client_error")) {
    e$call <- call
    return(e)
  }
  message <- conditionMessage(e)
  errno <- regmatches(message, regexec("\\(system error ([0-9]+), ", message))[[1L]][2L]
  if (is.na(errno)) return(client_error(message, call))
  client_error(message, call, "client_system_error", errno = as.integer(errno), fd = fd,
    path = path)
}

# Evaluates `expr`; an error it raises is raised again as an error of the package and
# of `call` (see as_client_error()). A calling handler raises it from where it struck,
# at a quarter of what tryCatch() costs on a path that calls this several times.
raise_as <- function(call, expr, fd = NULL, path = NULL) {
  withCallingHandlers(expr, error = function(e) stop(as_client_error(e, call, fd, path)))
}
