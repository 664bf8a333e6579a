# Shared by the test files: calls of the routines, child R processes, and a native
# helper built once per session for what plain R cannot do (pipes, descriptor limits).

# client.so, the fixed library for processes that load it by hand, installed beside the
# package's own library.
client_so <- function() {
  system.file("libs", paste0("client", .Platform$dynlib.ext), package = "client")
}

# Builds the test helper unless CLIENT_TEST_HELPER names a prebuilt one.
helper_so <- function() {
  prebuilt <- Sys.getenv("CLIENT_TEST_HELPER")
  if (nzchar(prebuilt)) return(prebuilt)
  so <- file.path(tempdir(), "testhelper", paste0("testhelper", .Platform$dynlib.ext))
  if (!file.exists(so)) {
    dir.create(dirname(so), showWarnings = FALSE)
    src <- file.path(dirname(so), "testhelper.c")
    file.copy(system.file("tinytest", "native", "testhelper.c", package = "client"), src)
    out <- system2(file.path(R.home("bin"), "R"), c("CMD", "SHLIB", "-o", shQuote(so),
      shQuote(src)), stdout = TRUE, stderr = TRUE)
    if (!file.exists(so)) stop("cannot build the test helper:\n", paste(out, collapse = "\n"))
  }
  so
}
load_helper <- function() {
  so <- helper_so()
  if (!"testhelper" %in% names(getLoadedDLLs())) dyn.load(so)
  invisible(so)
}
th <- function(name, ...) .Call(name, ..., PACKAGE = "testhelper")

# What a child R has before its code runs: the package attached, the test helper
# loaded, and descriptor facts from fcntl() and fstat(), which every unix has.
child_prologue <- function() bquote({
  suppressMessages(library(client))
  dyn.load(.(helper_so()))
  th <- function(name, ...) .Call(name, ..., PACKAGE = "testhelper")
  const <- th("th_constants")
  open_fds <- function() th("th_open_fds")
  is_cloexec <- function(fd) bitwAnd(th("th_fd_flags", fd)[1], const[["FD_CLOEXEC"]]) != 0
  is_nonblocking <- function(fd) bitwAnd(th("th_fd_flags", fd)[2], const[["O_NONBLOCK"]]) != 0
  # What a descriptor refers to, as device and inode; NA when it is not open.
  fd_id <- function(fd) th("th_fd_id", fd)
})

# Writes a script for a fresh Rscript that evaluates `code` (a quoted expression) after
# the prologue, with the values of the list saved in `values_file` as variables, and
# saves the value of `code` in `result_file`. The script is one braced expression that
# ends in quit(), so that R reads nothing more from it once descriptors change.
child_script <- function(code, values_file, result_file) {
  script <- tempfile(fileext = ".R")
  whole <- bquote({
    .(child_prologue())
    list2env(readRDS(.(values_file)), globalenv())
    saveRDS(local(.(code)), .(result_file))
    quit(status = 0)
  })
  writeLines(deparse(whole, width.cutoff = 500L), script)
  script
}

# The environment of a child R: this session's library path.
child_env <- function() {
  paste0("R_LIBS=", shQuote(paste(.libPaths(), collapse = .Platform$path.sep)))
}

# Runs `code`, a quoted expression, in a fresh Rscript (see child_script()); bquote()
# puts the parent's simple values in with .(), and named `...` values reach the child
# as variables through saveRDS(). `run` starts the script: by default rscript(), with
# standard output and error merged. Returns the value of `code` (NULL when the child
# died first), the child's exit status and its output lines.
in_child <- function(code, ..., run = run_rscript) {
  files <- c(tempfile(fileext = ".rds"), tempfile(fileext = ".rds"))
  saveRDS(list(...), files[1])
  script <- child_script(code, files[1], files[2])
  on.exit(unlink(c(files, script)), add = TRUE)
  child <- run(script)
  child$value <- if (file.exists(files[2])) readRDS(files[2])
  child
}

# A child's output as one text, for a failing expectation's `info`.
output_of <- function(child) paste(child$output, collapse = "\n")

run_rscript <- function(script) {
  out <- suppressWarnings(rscript(c("--vanilla", shQuote(script)), stdout = TRUE,
    stderr = TRUE, env = child_env()))
  status <- attr(out, "status")
  list(status = if (is.null(status)) 0L else status, output = as.character(out))
}

# Runs Rscript through system2() with `args` (quoted for the shell), SIGINT at its
# default. A process started in the background by a shell without job control has
# SIGINT ignored, and its children inherit that; a newer R then installs no handler
# and takes no interrupts, which the tests of interrupts need. perl, which every unix
# has, resets it and becomes Rscript.
rscript <- function(args, ...) {
  program <- file.path(R.home("bin"), "Rscript")
  if (!nzchar(Sys.which("perl"))) return(system2(program, args, ...))
  reset <- '$SIG{INT} = "DEFAULT"; exec @ARGV or die "$!\\n"'
  system2("perl", c("-e", shQuote(reset), shQuote(program), args), ...)
}

# Evaluates each call (a list of language objects) in one child R. Returns the error
# message of each call, or "no error", and whether the child's open descriptors were
# the same after all calls as before them.
errors_in_child <- function(calls) {
  child <- in_child(quote({
    before <- open_fds()
    messages <- vapply(calls, function(call) {
      tryCatch({ eval(call); "no error" }, error = conditionMessage)
    }, "")
    list(messages = messages, same_fds = identical(before, open_fds()))
  }), calls = calls)
  if (is.null(child$value)) stop("child failed:\n", paste(child$output, collapse = "\n"))
  child$value
}

# Wrappers of the codec routines, which the exported functions check around.
enc <- function(x) .Call(client:::tarnwick_base64_encode, x)
dec <- function(x) .Call(client:::tarnwick_base64_decode, x)

# The text the library gives for a system error, "(system error <n>, <strerror(n)>)",
# from the platform's number for `name` ("ENOENT") and its C library's words for it.
system_error <- function(name) {
  load_helper()
  number <- th("th_constants")[[name]]
  sprintf("(system error %d, %s)", number, th("th_strerror", number))
}

# A text as a regular expression that matches exactly it.
as_regex <- function(text) gsub("([][(){}.*+?^$|\\\\])", "\\\\\\1", text)

# Tests that take many seconds or hundreds of megabytes run only when asked:
# CLIENT_LONG_TESTS=1 runs them and CLIENT_LONG_TESTS=0 skips them; otherwise tinytest's
# at_home() decides, TRUE under run_test_dir() (make test, CI) and FALSE under
# test_package() (R CMD check).
long_tests <- function() {
  asked <- Sys.getenv("CLIENT_LONG_TESTS")
  if (asked %in% c("0", "1")) asked == "1" else tinytest::at_home()
}
long_test_skipped <- function(what) {
  paste0("long test (", what, "); CLIENT_LONG_TESTS=1 runs it")
}

# Says why a block of tests does not run, so that every run lists what it left out.
# A whole file ends with exit_file(reason) instead.
skip_block <- function(reason) cat("\nskipped: ", reason, "\n", sep = "")

# Whether python3 is there, at version `version` or later (its base64 decoder refuses a
# misplaced "=" from 3.11 on).
python_at_least <- function(version) {
  python <- Sys.which("python3")
  check <- sprintf("import sys; print(sys.version_info >= (%s))", gsub(".", ", ", version,
    fixed = TRUE))
  nzchar(python) && identical(suppressWarnings(system2(python, c("-c", shQuote(check)),
    stdout = TRUE)), "True")
}

# The output lines of the Python program `program`, given `lines` on standard input.
python_lines <- function(lines, program) {
  input <- tempfile()
  on.exit(unlink(input))
  writeLines(lines, input)
  system2(Sys.which("python3"), c("-c", shQuote(program)), stdin = input, stdout = TRUE)
}
