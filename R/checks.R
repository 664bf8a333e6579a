# Argument checks shared by the exported functions. Each checker returns its argument in
# the form the routine reads, or stops with a message that names the argument, says what
# it must be and shows what it got. The error names `call`, by default the call of the
# checker's caller: the call the user made, when an exported function calls it.

# A short account of a value for an error message: a number or flag as printed, NA, a
# quoted string, or its kind and length.
describe <- function(x) {
  if (is.null(x)) return("NULL")
  if (is.function(x)) return("a function")
  kind <- if (is.object(x)) {
    sprintf("an object of class \"%s\"", class(x)[1L])
  } else if (is.list(x)) {
    "a list"
  } else {
    type <- typeof(x)
    sprintf("%s %s vector", if (grepl("^[aeiou]", type)) "an" else "a", type)
  }
  if (is.object(x) || !is.atomic(x) || length(x) != 1L) {
    return(sprintf("%s of length %.0f", kind, length(x)))
  }
  if (is.numeric(x) || is.logical(x)) return(format(x, digits = 15L))
  if (is.na(x)) return("NA")
  if (is.character(x)) return(sprintf("the string %s", encodeString(x, quote = "\"")))
  kind
}

# Stops with "`arg` must be <what>, not <value described>", attributed to `call`: each
# checker's own default is the call of its caller, the exported function.
stop_arg <- function(arg, what, value, call) {
  message <- sprintf("`%s` must be %s, not %s", arg, what, describe(value))
  stop(client_error(message, call, "client_bad_argument", argument = arg))
}

# A descriptor: a whole number from 0 to the largest integer, given as integer or double.
as_fd <- function(fd, call = sys.call(-1L)) {
  ok <- is.numeric(fd) && !is.object(fd) && length(fd) == 1L && !is.na(fd) &&
    fd >= 0 && fd <= .Machine$integer.max && fd == trunc(fd)
  if (!ok) stop_arg("fd", "a single non-negative whole number", fd, call)
  as.integer(fd)
}

# A flag that means what it says: TRUE or FALSE, never NA.
as_flag <- function(flag, arg, call = sys.call(-1L)) {
  if (!is.logical(flag) || is.object(flag) || length(flag) != 1L || is.na(flag)) {
    stop_arg(arg, "TRUE or FALSE", flag, call)
  }
  flag
}

# A file path: one non-empty string, "~" expanded, in the native encoding that the
# system's open() expects.
as_path <- function(path, arg = "path", call = sys.call(-1L)) {
  if (!is.character(path) || is.object(path) || length(path) != 1L || is.na(path) ||
      !nzchar(path)) {
    stop_arg(arg, "a single non-empty string", path, call)
  }
  enc2native(path.expand(path))
}

# Bytes: a raw vector as it is, or one string as its bytes, as charToRaw() gives them.
# Attributes are dropped so that the result compares equal to plain raw vectors.
as_bytes <- function(x, arg, what = "a raw vector or a single string",
                     call = sys.call(-1L)) {
  if (is.raw(x) && !is.object(x)) {
    if (!is.null(attributes(x))) attributes(x) <- NULL
    return(x)
  }
  if (!is.character(x) || is.object(x) || length(x) != 1L || is.na(x)) {
    stop_arg(arg, what, x, call)
  }
  charToRaw(x)
}

# One of `choices`, the first when the argument is left at its default (all of them).
as_choice <- function(value, arg, choices, call = sys.call(-1L)) {
  if (identical(value, choices)) return(choices[1L])
  if (!is.character(value) || is.object(value) || length(value) != 1L || is.na(value) ||
      !value %in% choices) {
    stop_arg(arg, paste(encodeString(choices, quote = "\""), collapse = " or "), value,
      call)
  }
  value
}

# A line width for base64 text: 0 for one line, else a positive multiple of 4.
as_width <- function(width, call = sys.call(-1L)) {
  ok <- is.numeric(width) && !is.object(width) && length(width) == 1L && !is.na(width) &&
    width >= 0 && width <= .Machine$integer.max && width %% 4 == 0
  if (!ok) stop_arg("width", "0 or a positive multiple of 4", width, call)
  as.integer(width)
}

# A line end: "\n" or "\r\n".
as_eol <- function(eol, call = sys.call(-1L)) {
  if (!identical(eol, "\n") && !identical(eol, "\r\n")) {
    stop_arg("eol", "\"\\n\" or \"\\r\\n\"", eol, call)
  }
  eol
}

# Several values at once: a raw vector (one value), or a character vector whose elements
# are values, NA included.
as_values <- function(x, arg, call = sys.call(-1L)) {
  if ((is.raw(x) || is.character(x)) && !is.object(x)) return(x)
  stop_arg(arg, "a raw vector or a character vector", x, call)
}
