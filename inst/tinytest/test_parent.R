# The package as a worker's child uses it: a real parent, a Python program with pipes
# (parent.py), starts a child R and checks from its side what arrives on its pipes and
# when they reach end of file.
source("helpers.R")
python <- Sys.which("python3")
if (!nzchar(python)) exit_file("python3 is not installed: there is no parent to run")

# Runs `code` (see in_child()) in a child R started by parent.py; with fd3, the child
# holds the write end of a third pipe on descriptor 3. Returns what each pipe carried
# (as lines), the frames parent.py decoded, the child's exit status and the seconds
# from its exit to end of file on the last of its pipes.
under_parent <- function(code, fd3 = FALSE) {
  in_child(code, run = function(script) {
    out_dir <- tempfile()
    dir.create(out_dir)
    on.exit(unlink(out_dir, recursive = TRUE), add = TRUE)
    log <- suppressWarnings(system2(python, c("parent.py", if (fd3) "--fd3",
      shQuote(out_dir), shQuote(file.path(R.home("bin"), "Rscript")), "--vanilla",
      shQuote(script)), stdout = TRUE, stderr = TRUE, env = child_env()))
    if (!file.exists(file.path(out_dir, "result"))) {
      stop("parent.py failed:\n", paste(log, collapse = "\n"))
    }
    result <- scan(file.path(out_dir, "result"), quiet = TRUE)
    pipe_lines <- function(name) {
      path <- file.path(out_dir, name)
      if (file.exists(path)) readLines(path, warn = FALSE) else character()
    }
    frames <- sort(dir(out_dir, pattern = "^frame-"))
    list(status = result[1], eof_after_exit = result[2],
      stdout = pipe_lines("stdout"), stderr = pipe_lines("stderr"),
      fd3 = pipe_lines("fd3"), frames = lapply(file.path(out_dir, frames), function(f) {
        readBin(f, "raw", file.size(f))
      }))
  })
}

## ---- one write of a base64 frame, then R, C, stdio and a child program, in order ----
obj <- list(numbers = rnorm(20000), text = c("plain", "na\u00efve", NA),
  bytes = as.raw(0:255), nested = list(NULL, TRUE, 1:3, list(f = factor(c("a", "b")))))
obj_file <- tempfile(fileext = ".rds")
saveRDS(obj, obj_file)
child <- under_parent(fd3 = TRUE, bquote({
  # The frame goes out larger than a pipe's buffer, in one write, while the parent reads.
  frame <- c(charToRaw("frame "), base64_encode(serialize(readRDS(.(obj_file)), NULL)),
    as.raw(10))
  written <- fd_write(3, frame)
  with_stdout(3, with_stderr(1, {
    cat("R out\n")
    message("R err")
    fd_write(1, "C out\n")
    fd_write(2, "C err\n")
    th("th_stdio_write", "stdio out\n")
    system("echo child out; echo child err 1>&2")
  }))
  system("echo program after restore; echo program after restore err 1>&2")
  message("R after restore")
  c(whole = written == length(frame), larger_than_pipe = length(frame) > 65536)
}))
info <- paste(c(child$stdout, child$stderr), collapse = "\n")
expect_equal(child$status, 0, info = info)
expect_identical(child$value, c(whole = TRUE, larger_than_pipe = TRUE), info = info)
expect_equal(grep("^frame ", child$fd3, value = TRUE, invert = TRUE),
  c("R out", "R err", "C out", "C err", "stdio out", "child out", "child err"),
  info = info)
expect_equal(child$stdout, "program after restore", info = info)
expect_equal(child$stderr, c("program after restore err", "R after restore"), info = info)
expect_equal(length(child$frames), 1L, info = info)
expect_identical(if (length(child$frames) == 1L) unserialize(child$frames[[1]]), obj)
unlink(obj_file)

## ---- the parent sees end of file when the child exits, not when a program it left
## ---- running does: after the sweep, and while the streams were rerouted to files ----
# The background program outlives the child by far; its pipes must not.
lifetime <- 20
files <- replicate(4, tempfile())
detached <- list(
  sweep = bquote({
    disable_inheritance()
    system(.(sprintf("sleep %d &", lifetime)))
    cat("restored\n")
  }),
  # The saved duplicates of the parent's pipes stay in the child while the streams are
  # rerouted; a program started then must not inherit them.
  rerouted_by_hand = bquote({
    so <- set_stdout_file(.(files[1]))
    se <- set_stderr_file(.(files[2]))
    system(.(sprintf("sleep %d &", lifetime)))
    set_stdout(so)
    set_stderr(se)
    cat("restored\n")
  }),
  rerouted_scoped = bquote({
    with_stdout_file(.(files[3]), with_stderr_file(.(files[4]),
      system(.(sprintf("sleep %d &", lifetime)))))
    cat("restored\n")
  }))
for (case in names(detached)) {
  child <- under_parent(detached[[case]])
  info <- paste(case, paste(c(child$stdout, child$stderr), collapse = "\n"))
  expect_equal(child$status, 0, info = info)
  expect_equal(child$stdout, "restored", info = info)
  expect_true(child$eof_after_exit < lifetime / 4, info = paste(case,
    "end of file", child$eof_after_exit, "s after the child's exit"))
}
unlink(files)
