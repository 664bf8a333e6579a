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
# routines included. The routines of the package's library hand a failed system call
# over as a fault, list(kind = "system", message, errno, subject), whose fields the
# error takes: no message is parsed.

# An error condition of the package with `message`, attributed to `call`, of the kind
# `class` (none: client_error alone), with the fields in `...`.
client_error <- function(message, call, class = NULL, ...) {
  structure(class = c(class, "client_error", "error", "condition"),
    list(message = message, call = call, ...))
}

# The error `e`, raised on the way to `call`, as an error of the package of that call:
# an error of the package as it is, a system error with `fd` or `path` unless it names
# its own; any other error with its message.
as_client_error <- function(e, call, fd = NULL, path = NULL) {
  if (!inherits(e, "client_error")) return(client_error(conditionMessage(e), call))
  e$call <- call
  # Set as one-element lists, so that a NULL stays a field.
  if (inherits(e, "client_system_error")) {
    if (is.null(e$fd)) e["fd"] <- list(fd)
    if (is.null(e$path)) e["path"] <- list(path)
  }
  e
}

# Whether `out`, what a routine returned, is a fault (see above).
is_fault <- function(out) is.list(out) && identical(out$kind, "system")

# The client_system_error of a routine's `fault`, attributed to `call`.
fault_error <- function(fault, call = NULL, fd = NULL, path = NULL) {
  client_error(fault$message, call, "client_system_error", errno = fault$errno, fd = fd,
    path = path)
}

# `out`, what a routine returned, unless it is a fault, which is raised; raise_as()
# around it names the call and the descriptor or path.
checked <- function(out) {
  if (is_fault(out)) stop(fault_error(out))
  out
}

# Evaluates `expr`; an error it raises is raised again as an error of the package and
# of `call` (see as_client_error()). A calling handler raises it from where it struck,
# at a quarter of what tryCatch() costs on a path that calls this several times.
raise_as <- function(call, expr, fd = NULL, path = NULL) {
  withCallingHandlers(expr, error = function(e) stop(as_client_error(e, call, fd, path)))
}
