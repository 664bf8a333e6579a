# Bad-input battery: every routine, called through .Call and through the package's
# functions (those that exist), with arguments it cannot use. Each call runs in its own
# child R process, two at a time, which must return or raise an R error and then end
# normally.
# Prints "battery: X calls, Y errors, Z crashes" and fails unless Z is 0.
# Run with the package on R_LIBS: R_LIBS=.lib Rscript --vanilla tools/robustness/battery.R
# [--direct-only] (only the .Call calls).

# Wrong types, empty vectors, NA of each type and odd descriptor numbers, as R source;
# every argument of every routine gets each of them.
any_argument <- c(
  "1", "1.5", "'1'", "list(1L)", "NULL", "as.raw(1)", "function() 1", "new.env()",
  "globalenv()", "quote(x)", "quote(f(x))", "1i", "TRUE", "1L",
  "integer(0)", "double(0)", "logical(0)", "character(0)", "raw(0)", "list()",
  "NA", "NA_integer_", "NA_real_", "NA_character_", "NA_complex_",
  "-1L", "-.Machine$integer.max", ".Machine$integer.max", "closed_fd",
  "c(1L, 2L)", "factor('a')", "structure(1L, class = 'odd')")

# Values that only make sense for one kind of argument.
by_kind <- list(
  fd = c("0L", "1L", "2L", "3L", "closed_fd + 1L"),
  flag = c("FALSE", "c(FALSE, TRUE)"),
  bytes = c("as.raw(0:255)", "raw(70000)"),
  text = c("charToRaw('YQ==')", "charToRaw('====')", "charToRaw('YWJjZ')",
    "as.raw(c(0x80, 0xff, 0x3d, 0x41))", "as.raw(rep(0x3d, 4000))"),
  path = c("tempdir()", "'/'", "''", "'no/such/dir/f'", "read_only_file",
    "'/sys/kernel/notes'", "'/proc/1/exe'", "strrep('a', 5000)",
    "paste(rep('d', 3000), collapse = '/')", "strrep('x', 300)", "'\\xff\\xfe.txt'",
    "'\\u00e9t\\u00e9.txt'", "c('f.txt', NA)", "rep('f.txt', 1e5)"),
  # The four paths of a file routine: input, output, and how errors show them.
  paths = c("c(read_only_file, out_file, 'in', 'out')", "c(tempdir(), out_file, 'a', 'b')",
    "c(read_only_file, '/no/such/dir/f', 'a', 'b')", "rep(read_only_file, 4)",
    "c(read_only_file, out_file, NA, 'b')", "c(read_only_file, out_file)",
    "c(read_only_file, '/dev/full', 'a', 'b')", "c(read_only_file, '/dev/fd/1', 'a', 'b')",
    "c(read_only_file, '/proc/self/fd/99', 'a', 'b')"),
  number = c("4L", "76", "2147483644", "3", "-4"),
  eol = c("'\\r\\n'", "'\\r'", "c(a = '\\n')"),
  choice = c("'string'", "c('raw', 'string')", "'text'"),
  # A copier of split = TRUE: running, stopped, and another kind of external pointer.
  follower = c(".Call(client:::tarnwick_follow_start, 1L)",
    "{ f <- .Call(client:::tarnwick_follow_start, 2L); .Call(client:::tarnwick_follow_stop, f); f }",
    "new('externalptr')", "getNativeSymbolInfo('tarnwick_write', 'client_package')$address"))

# Each routine: its registered name (NA for functions that no one routine stands
# behind), the package function that wraps it, a valid value for each argument and the
# kind of each argument.
routines <- list(
  list("tarnwick_write", "fd_write", c("1L", "raw(1)"), c("fd", "bytes")),
  list("tarnwick_set_stdout", "set_stdout", c("1L", "TRUE"), c("fd", "flag")),
  list("tarnwick_set_stderr", "set_stderr", c("2L", "TRUE"), c("fd", "flag")),
  list("tarnwick_set_stdout_to_file", "set_stdout_file", "out_file", "path"),
  list("tarnwick_set_stderr_to_file", "set_stderr_file", "out_file", "path"),
  list("tarnwick_base64_encode", "base64_encode", "raw(3)", "bytes"),
  list("tarnwick_base64_decode", "base64_decode", "charToRaw('YWJj')", "text"),
  list("tarnwick_base64_encode_options", NA, c("raw(3)", "TRUE", "FALSE", "76L", "'\\n'",
    "'string'"), c("bytes", "flag", "flag", "number", "eol", "choice")),
  list("tarnwick_base64_decode_options", NA, c("charToRaw('YQ')", "TRUE", "TRUE",
    "'string'"), c("text", "flag", "flag", "choice")),
  list("tarnwick_base64_encode_file", NA, c("c(read_only_file, out_file, 'a', 'b')",
    "FALSE", "TRUE", "76L", "'\\n'"), c("paths", "flag", "flag", "number", "eol")),
  list("tarnwick_base64_decode_file", NA, c("c(read_only_file, out_file, 'a', 'b')",
    "FALSE", "TRUE"), c("paths", "flag", "flag")),
  list("tarnwick_open_append", NA, "out_file", "path"),
  list("tarnwick_close", NA, "closed_fd + 1L", "fd"),
  list("tarnwick_reroute", NA, c("1L", "1L", "FALSE"), c("number", "fd", "flag")),
  list("tarnwick_reroute_to_file", NA, c("2L", "out_file"), c("number", "path")),
  list("tarnwick_fd_connection", "fd_connection", "1L", "fd"),
  list("tarnwick_follow_start", NA, "1L", "fd"),
  list("tarnwick_follow_file", NA, c(".Call(client:::tarnwick_follow_start, 1L)",
    "out_file"), c("follower", "path")),
  list("tarnwick_follow_stop", NA, ".Call(client:::tarnwick_follow_start, 1L)",
    "follower"),
  list("tarnwick_disable_inheritance", "disable_inheritance", character(), character()),
  list(NA, "knit_descriptors", character(), character()),
  list(NA, "with_stdout", c("1L", "cat('x')"), c("fd", "code")),
  list(NA, "with_stderr", c("2L", "cat('x')"), c("fd", "code")),
  list(NA, "with_stdout_file", c("out_file", "cat('x')"), c("path", "code")),
  list(NA, "with_output_file", c("out_file", "cat('x')", "FALSE", "TRUE"),
    c("path", "code", "flag", "flag")),
  list(NA, "with_stderr_file", c("out_file", "cat('x')"), c("path", "code")),
  list(NA, "capture_stdout", c("cat('x')", "FALSE"), c("code", "flag")),
  list(NA, "capture_stderr", c("message('x')", "TRUE"), c("code", "flag")),
  list(NA, "capture_output", c("cat('x')", "FALSE"), c("code", "flag")),
  list(NA, "base64_encode", c("raw(3)", "TRUE", "FALSE", "4", "'\\n'", "'string'"),
    c("bytes", "flag", "flag", "number", "eol", "choice")),
  list(NA, "base64_decode", c("charToRaw('YQ')", "TRUE", "TRUE", "'string'"),
    c("text", "flag", "flag", "choice")),
  list(NA, "base64_encode_file", c("read_only_file", "out_file"), c("path", "path")),
  list(NA, "base64_decode_file", c("read_only_file", "out_file"), c("path", "path")))

# Every routine that the package's library registers has its row above.
invisible(loadNamespace("client"))
registered <- names(getDLLRegisteredRoutines(getLoadedDLLs()[["client_package"]])$.Call)
missing_rows <- setdiff(registered, vapply(routines, function(r) as.character(r[[1]]), ""))
if (length(missing_rows) > 0) {
  stop("battery: no row for ", paste(missing_rows, collapse = ", "))
}

# Calls R may refuse before a routine runs: wrong counts, names given as strings.
refused <- c(
  ".Call(client:::tarnwick_write, 1L)",
  ".Call(client:::tarnwick_disable_inheritance, 1L)",
  ".Call(client:::tarnwick_base64_encode, raw(1), raw(1))",
  ".Call('tarnwick_write', 1L, raw(1), PACKAGE = 'client')",
  ".Call('tarnwick_base64_decode', raw(4))")

# The calls of one function with one argument replaced by each value its kind gets.
calls_of <- function(fun, defaults, kinds) {
  if (length(kinds) == 0) return(sprintf("%s()", fun))
  unlist(lapply(seq_along(kinds), function(i) {
    vapply(c(any_argument, by_kind[[kinds[i]]]), function(value) {
      args <- defaults
      args[i] <- value
      sprintf("%s(%s)", fun, paste(args, collapse = ", "))
    }, "")
  }), use.names = FALSE)
}

has_function <- function(name) {
  !is.na(name) && exists(name, envir = asNamespace("client"), inherits = FALSE)
}

# With direct_only, the package's functions are left out: they reach the library only
# through the same routines, with arguments they have checked.
all_calls <- function(direct_only = FALSE) {
  calls <- refused
  for (r in routines) {
    if (!is.na(r[[1]])) {
      direct <- sprintf(".Call(client:::%s%s", r[[1]], if (length(r[[3]])) ", " else "")
      calls <- c(calls, sub("^CALL\\(", direct, calls_of("CALL", r[[3]], r[[4]])))
    }
    if (!direct_only && has_function(r[[2]])) {
      calls <- c(calls, calls_of(paste0("client:::", r[[2]]), r[[3]], r[[4]]))
    }
  }
  calls
}

# The child: a closed descriptor, files to aim at, one call, its outcome to a file.
# One braced expression, so that R reads no more of the script once descriptors change.
child_script <- function(call, dir, result) {
  c("{",
    sprintf("setwd(%s)", deparse(dir)),
    "suppressMessages(loadNamespace('client'))",
    "saved <- .Call(client:::tarnwick_set_stdout, 1L, FALSE)",
    "invisible(.Call(client:::tarnwick_set_stdout, saved, TRUE))",
    "closed_fd <- saved",
    "out_file <- file.path(getwd(), 'out.txt')",
    "read_only_file <- file.path(getwd(), 'read-only.txt')",
    "file.create(read_only_file); Sys.chmod(read_only_file, '0444')",
    sprintf("outcome <- tryCatch({ %s; 'value' }, error = function(e) 'error')", call),
    sprintf("writeLines(outcome, %s)", deparse(result)),
    "quit(save = 'no', status = 0)",
    "}")
}

rscript <- file.path(R.home("bin"), "Rscript")
libs <- paste(.libPaths(), collapse = .Platform$path.sep)

# How many children run at once: one per core that a machine of two leaves free.
children_at_once <- 2L

# Starts one call in a child R in the background, in a folder of its own under `work`.
# A shell around it records the child's exit status once it ends, or 124 when it runs
# past two minutes. Returns the folder.
start_call <- function(call, work) {
  dir <- tempfile("call-", tmpdir = work)
  dir.create(dir)
  script <- file.path(dir, "call.R")
  writeLines(child_script(call, dir, file.path(dir, "result")), script, useBytes = TRUE)
  child <- sprintf("timeout 120 %s --vanilla --default-packages=NULL %s >%s 2>&1",
    shQuote(rscript), shQuote(script), shQuote(file.path(dir, "log")))
  # The status is written under another name and renamed, so that it appears whole.
  recorded <- sprintf("%s; echo $? >%s && mv %s %s", child,
    shQuote(file.path(dir, "status.tmp")), shQuote(file.path(dir, "status.tmp")),
    shQuote(file.path(dir, "status")))
  system2("sh", c("-c", shQuote(recorded)), wait = FALSE,
    env = paste0("R_LIBS=", shQuote(libs)))
  dir
}

# The outcome of the finished call of folder `dir`: "value", "error" or "crash" (then
# printed with the child's log). Removes the folder.
outcome_of <- function(call, dir) {
  on.exit(unlink(dir, recursive = TRUE), add = TRUE)
  status <- as.integer(readLines(file.path(dir, "status")))
  result <- file.path(dir, "result")
  outcome <- if (file.exists(result)) readLines(result) else ""
  if (status == 0 && outcome %in% c("value", "error")) return(outcome)
  cat("CRASH (status ", status, "): ", call, "\n", sep = "")
  log <- file.path(dir, "log")
  if (file.exists(log)) cat(tail(readLines(log, warn = FALSE), 20), sep = "\n")
  "crash"
}

# Runs every call in a child of its own, a few at a time; their outcomes, in order.
run_calls <- function(calls, work) {
  outcomes <- character(length(calls))
  running <- integer()
  dirs <- character(length(calls))
  next_call <- 1L
  while (next_call <= length(calls) || length(running) > 0L) {
    while (length(running) < children_at_once && next_call <= length(calls)) {
      dirs[next_call] <- start_call(calls[next_call], work)
      running <- c(running, next_call)
      next_call <- next_call + 1L
    }
    done <- running[file.exists(file.path(dirs[running], "status"))]
    for (k in done) outcomes[k] <- outcome_of(calls[k], dirs[k])
    running <- setdiff(running, done)
    if (length(done) == 0L) Sys.sleep(0.01)
  }
  outcomes
}

main <- function() {
  suppressMessages(loadNamespace("client"))
  work <- tempfile("battery-")
  dir.create(work)
  on.exit(unlink(work, recursive = TRUE), add = TRUE)
  calls <- all_calls(direct_only = "--direct-only" %in% commandArgs(TRUE))
  outcomes <- run_calls(calls, work)
  crashes <- sum(outcomes == "crash")
  cat(sprintf("battery: %d calls, %d errors, %d crashes\n", length(outcomes),
    sum(outcomes == "error"), crashes))
  quit(save = "no", status = if (crashes == 0) 0L else 1L)
}

main()
