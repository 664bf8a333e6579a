# Injected faults: each failing call must raise its error, leave the stream it aims at
# as it was, and hold no descriptor more or less than before. Each runs in a child R.
source("helpers.R")

# Runs one fault in a child. `prepare` (a quoted expression) sets up descriptors that
# belong to the baseline; `inject` brings the fault on just before `call` and `release`
# takes it away just after, both outside the measurement. Returns the error text (or
# the deparsed value), whether the open descriptors and what descriptor `target` refers
# to are as before, the value of `note` if the expressions set one, and the output.
inject_fault <- function(call, target, prepare = NULL, inject = NULL, release = NULL) {
  child <- in_child(bquote({
    .(prepare)
    before <- list(fds = open_fds(), target = fd_id(.(target)))
    .(inject)
    outcome <- tryCatch(deparse(.(call)), error = conditionMessage)
    .(release)
    after <- list(fds = open_fds(), target = fd_id(.(target)))
    list(outcome = outcome, same_fds = identical(before$fds, after$fds),
      same_target = identical(before$target, after$target),
      note = get0("note", ifnotfound = NULL))
  }))
  c(child$value, list(status = child$status, output = child$output))
}

at_fd_limit <- quote({
  invisible(th("th_set_fd_limit", 64L))
  held <- th("th_exhaust_fds")
})
# Room for one descriptor more: open() succeeds, the dup() after it does not.
one_short_of_limit <- quote({
  invisible(th("th_set_fd_limit", 64L))
  held <- th("th_exhaust_fds")
  invisible(th("th_close", held[length(held)]))
  held <- held[-length(held)]
})
release_fds <- quote(for (fd in held) th("th_close", fd))
# A pipe whose write end is descriptor 40, a number the table can name as the target.
# 40 is far above what R holds, so that neither end of the new pipe is already there.
pipe_into_40 <- quote({
  p <- th("th_pipe")
  stopifnot(!40L %in% p)
  invisible(th("th_dup2", p[2], 40L))
  invisible(th("th_close", p[2]))
})
tail_of <- function(routine) sprintf(" @client:[0-9]+ \\(%s\\)$", routine)
append_tail <- " @descriptors:[0-9]+ \\(tarnwick_open_append\\)$"
error_of <- function(name) paste0(" ", as_regex(system_error(name)))
no_write_dir <- tempfile("no-write-")
dir.create(no_write_dir)
Sys.chmod(no_write_dir, "0555")
long_name <- strrep("a", 300)  # longer than any file name may be
long_path <- strrep("a", 5000)

cases <- list(
  list(name = "open: no permission (EACCES)", target = 1L,
    prepare = quote(invisible(th("th_drop_capabilities"))),
    call = bquote(.Call(client:::tarnwick_set_stdout_to_file,
      .(file.path(no_write_dir, "f")))),
    expect = paste0("^Cannot open new stdout file `", no_write_dir, "/f`",
      error_of("EACCES"), tail_of("tarnwick_set_stdout_to_file"))),
  list(name = "open: no such folder (ENOENT)", target = 1L,
    call = quote(.Call(client:::tarnwick_set_stdout_to_file, "/no/such/dir/f")),
    expect = paste0("^Cannot open new stdout file `/no/such/dir/f`", error_of("ENOENT"),
      tail_of("tarnwick_set_stdout_to_file"))),
  list(name = "open: a directory (EISDIR)", target = 2L,
    call = bquote(.Call(client:::tarnwick_set_stderr_to_file, .(tempdir()))),
    expect = paste0("^Cannot open new stderr file `", tempdir(), "`", error_of("EISDIR"),
      tail_of("tarnwick_set_stderr_to_file"))),
  list(name = "open: name too long (ENAMETOOLONG)", target = 1L,
    call = bquote(.Call(client:::tarnwick_set_stdout_to_file, .(long_name))),
    expect = paste0("^Cannot open new stdout file `", long_name, "`",
      error_of("ENAMETOOLONG"), tail_of("tarnwick_set_stdout_to_file"))),
  # R keeps 999 bytes of an error text: the path is shortened so that the system error
  # and the location, which R used to cut away, still fit.
  list(name = "open: path longer than PATH_MAX (ENAMETOOLONG)", target = 2L,
    call = bquote(.Call(client:::tarnwick_set_stderr_to_file, .(long_path))),
    expect = paste0("^(?=.{999}$)Cannot open new stderr file `a+\\.\\.\\.",
      error_of("ENAMETOOLONG"), tail_of("tarnwick_set_stderr_to_file"))),
  list(name = "open: no descriptor left (EMFILE)", target = 2L,
    inject = at_fd_limit, release = release_fds,
    call = quote(.Call(client:::tarnwick_set_stderr_to_file, tempfile())),
    expect = paste0("^Cannot open new stderr file `.+`", error_of("EMFILE"),
      tail_of("tarnwick_set_stderr_to_file"))),
  # The file is opened, the duplicate of the stream is not: the file must be closed.
  list(name = "dup after open: no descriptor left (EMFILE)", target = 2L,
    inject = one_short_of_limit, release = release_fds,
    call = quote(.Call(client:::tarnwick_set_stderr_to_file, tempfile())),
    expect = paste0("^Cannot reroute stderr", error_of("EMFILE"),
      tail_of("tarnwick_set_std"))),
  # The replacement belongs to the caller and must stay open.
  list(name = "dup: no descriptor left (EMFILE)", target = 1L,
    prepare = quote(p <- th("th_pipe")), inject = at_fd_limit, release = release_fds,
    call = quote(.Call(client:::tarnwick_set_stdout, p[2], FALSE)),
    expect = paste0("^Cannot reroute stdout", error_of("EMFILE"),
      tail_of("tarnwick_set_std"))),
  # dup() hands out the lowest free number: once that of the closed replacement, which
  # made dup2() succeed on the duplicate and the call report a reroute that never was.
  list(name = "dup2: replacement not open (EBADF)", target = 2L,
    prepare = quote({ p <- th("th_pipe"); invisible(th("th_close", p[2])) }),
    call = quote(.Call(client:::tarnwick_set_stderr, p[2], FALSE)),
    expect = paste0("^Cannot reroute stderr", error_of("EBADF"),
      tail_of("tarnwick_set_std"))),
  # with_stdout(2) lends a duplicate of standard error, which must be closed again
  # when the switch then fails.
  list(name = "with_stdout(2): no descriptor left for the switch (EMFILE)", target = 2L,
    inject = one_short_of_limit, release = release_fds,
    call = quote(with_stdout(2, cat("never ran\n"))),
    expect = paste0("^Cannot reroute stdout", error_of("EMFILE"),
      tail_of("tarnwick_set_std"))),
  # A number above every open one: dup() succeeds, dup2() fails, and the duplicate
  # made for it must be closed again.
  list(name = "dup2: replacement never opened (EBADF)", target = 1L,
    call = quote(.Call(client:::tarnwick_set_stdout, 4321L, FALSE)),
    expect = paste0("^Cannot reroute stdout", error_of("EBADF"),
      tail_of("tarnwick_set_std"))),
  # R's handler turns the first SIGPIPE into an error and blocks the signal; the next
  # write fails with EPIPE in the ordinary way.
  list(name = "write: pipe without reader (EPIPE)", target = 40L,
    prepare = bquote({
      .(pipe_into_40)
      invisible(th("th_close", p[1]))
      note <- tryCatch(.Call(client:::tarnwick_write, 40L, as.raw(1)),
        error = conditionMessage)
    }),
    call = quote(.Call(client:::tarnwick_write, 40L, as.raw(1:3))),
    note = "ignoring SIGPIPE signal",
    expect = paste0("^Cannot write to fd", error_of("EPIPE"), tail_of("tarnwick_write"))),
  # Appending: the path and the reason, and both streams left as they were.
  list(name = "append: no permission (EACCES)", target = 1L,
    prepare = quote(invisible(th("th_drop_capabilities"))),
    call = bquote(with_stdout_file(.(file.path(no_write_dir, "f")), 1, append = TRUE)),
    expect = paste0("^Cannot open file `", no_write_dir, "/f` for appending",
      error_of("EACCES"), append_tail)),
  list(name = "append: no such folder (ENOENT)", target = 2L,
    call = quote(with_output_file("/no/such/dir/f", 1, append = TRUE)),
    expect = paste0("^Cannot open file `/no/such/dir/f` for appending",
      error_of("ENOENT"), append_tail)),
  list(name = "append: a directory (EISDIR)", target = 2L,
    call = bquote(set_stderr_file(.(tempdir()), append = TRUE)),
    expect = paste0("^Cannot open file `", tempdir(), "` for appending",
      error_of("EISDIR"), append_tail)),
  # The file is opened, the duplicate of the stream is not: the file must be closed.
  list(name = "append, dup after open: no descriptor left (EMFILE)", target = 1L,
    inject = one_short_of_limit, release = release_fds,
    call = quote(set_stdout_file(tempfile(), append = TRUE)),
    expect = paste0("^Cannot reroute stdout", error_of("EMFILE"),
      tail_of("tarnwick_set_std"))),
  list(name = "write: full non-blocking pipe (EAGAIN)", target = 40L,
    prepare = bquote({
      .(pipe_into_40)
      invisible(th("th_set_nonblocking", 40L))
      invisible(th("th_fill", 40L))
    }),
    call = quote(.Call(client:::tarnwick_write, 40L, as.raw(1:3))), expect = "^0L$"))

# Root passes file permissions; only Linux lets a process give that up (capabilities).
if (file.access(no_write_dir, 2) == 0 && Sys.info()[["sysname"]] != "Linux") {
  skip_block(paste("open: no permission (EACCES): root passes file permissions, and only",
    "Linux lets it give that up"))
  cases <- Filter(function(case) !grepl("EACCES", case$name), cases)
}

## ---- every fault: its error, the target as it was, no descriptor leaked ----
for (case in cases) {
  got <- inject_fault(case$call, case$target, case$prepare, case$inject, case$release)
  info <- paste(case$name, "|", got$outcome, "|", paste(got$output, collapse = "\n"))
  expect_equal(got$status, 0L, info = info)
  expect_true(isTRUE(grepl(case$expect, got$outcome, perl = TRUE)), info = info)
  expect_identical(got$same_fds, TRUE, info = info)
  expect_identical(got$same_target, TRUE, info = info)
  if (!is.null(case$note)) expect_equal(got$note, case$note, info = info)
}
Sys.chmod(no_write_dir, "0755")
unlink(no_write_dir, recursive = TRUE)
