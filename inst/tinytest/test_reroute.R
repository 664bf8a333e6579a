# Rerouting descriptors 1 and 2. Every case runs in a child R process.
source("helpers.R")
out_file <- tempfile()
err_file <- tempfile()
q <- function(x) deparse(x)

## ---- to a file and back: R, C and child output all land in it ----
child <- run_in_child(c(
  sprintf("saved <- .Call(client:::tarnwick_set_stdout_to_file, %s)", q(out_file)),
  "cat('from R\\n'); system('echo from a child program')",
  ".Call(client:::tarnwick_write, 1L, charToRaw('from C\\n'))",
  "flags <- c(is_cloexec(saved), is_cloexec(1L))",
  "back <- .Call(client:::tarnwick_set_stdout, saved, TRUE)",
  "cat('restored', is.null(back), is.integer(saved), saved > 2L, '\\n')",
  "cat('closed', !(saved %in% open_fds()), '\\n')",
  "cat('cloexec', flags, is_cloexec(1L), '\\n')"))
expect_equal(child$status, 0L)
expect_equal(readLines(out_file), c("from R", "from a child program", "from C"))
expect_equal(tagged(child, "restored"), "TRUE TRUE TRUE ")
expect_equal(tagged(child, "closed"), "TRUE ")
# The saved duplicate is kept from child programs; the rerouted and the restored stream
# are not.
expect_equal(tagged(child, "cloexec"), "TRUE FALSE FALSE ")
expect_equal(file.info(out_file)$mode, as.octmode(bitwAnd(0x1A4, bitwNot(Sys.umask()))))

## ---- standard error too; an existing file is emptied first ----
writeLines(strrep("old content ", 50), err_file)
child <- run_in_child(c(
  sprintf("saved <- .Call(client:::tarnwick_set_stderr_to_file, c(%s, 'ignored'))",
    q(err_file)),
  "message('to stderr'); system('echo child err 1>&2')",
  "invisible(.Call(client:::tarnwick_set_stderr, saved, TRUE))",
  "message('back on stderr')"))
expect_equal(readLines(err_file), c("to stderr", "child err"))
expect_true("back on stderr" %in% child$output)

## ---- to a descriptor: drop flag, NA as true, the replacement consumed ----
child <- run_in_child(c(
  "p <- th('th_pipe')",
  "kept <- .Call(client:::tarnwick_set_stdout, p[2], FALSE)",
  "cat('into the pipe\\n')",
  "cat('cloexec', is_cloexec(kept), is_cloexec(1L), '\\n', file = stderr())",
  "dropped <- .Call(client:::tarnwick_set_stdout, kept, NA)",
  "cat('dropped', is.null(dropped), '\\n')",
  "cat('consumed', !(p[2] %in% open_fds()), !(kept %in% open_fds()), '\\n')",
  "cat('piped', rawToChar(th('th_read', p[1], 100L)))"))
expect_equal(tagged(child, "dropped"), "TRUE ")
expect_equal(tagged(child, "cloexec"), "TRUE FALSE ")
expect_equal(tagged(child, "consumed"), "TRUE TRUE ")
expect_equal(tagged(child, "piped"), "into the pipe")

## ---- a stream rerouted to its own descriptor stays open ----
child <- run_in_child(c(
  "before <- open_fds()",
  "s <- .Call(client:::tarnwick_set_stdout, 1L, FALSE)",
  "cat('self', is.integer(s), s %in% open_fds(), 1L %in% open_fds(), '\\n')",
  "invisible(.Call(client:::tarnwick_set_stdout, 1L, TRUE))",
  "cat('still', 1L %in% open_fds(), '\\n')"))
expect_equal(tagged(child, "self"), "TRUE TRUE TRUE ")
expect_equal(tagged(child, "still"), "TRUE ")

## ---- to a file while the target is closed: refused, the file left alone ----
# open() would return the target's own number: the file became stdout for good, and the
# "saved" duplicate was one of the file, so putting stdout back kept it there.
never_made <- tempfile()
child <- run_in_child(c(
  "invisible(th('th_close', 1L))",
  sprintf("e <- tryCatch(.Call(client:::tarnwick_set_stdout_to_file, %s),", q(never_made)),
  "  error = conditionMessage)",
  sprintf("w <- tryCatch(with_stdout_file(%s, message('ran')), error = conditionMessage)",
    q(never_made)),
  sprintf("refusal <- %s", q(paste("Cannot reroute stdout", system_error("EBADF")))),
  "cat('refused', startsWith(c(e, w), refusal),",
  "  grepl('(tarnwick_set_stdout_to_file)', c(e, w), fixed = TRUE),",
  "  1L %in% open_fds(), '\\n', file = stderr())"))
expect_equal(tagged(child, "refused"), "TRUE TRUE TRUE TRUE FALSE ",
  info = paste(child$output, collapse = "\n"))
expect_false(file.exists(never_made))
expect_false("ran" %in% child$output)

## ---- failures leave the stream and the descriptor table as they were ----
child <- run_in_child(c(
  "before <- open_fds()",
  "e <- tryCatch(.Call(client:::tarnwick_set_stdout_to_file, '/no/such/dir/f'),",
  "  error = conditionMessage)",
  "cat('open', e, '\\n')",
  # dup() succeeds, dup2() onto descriptor 1 fails: the duplicate must not leak.
  "e <- tryCatch(.Call(client:::tarnwick_set_stdout, 4321L, FALSE),",
  "  error = conditionMessage)",
  "cat('dup2', e, '\\n')",
  "cat('same', identical(before, open_fds()), '\\n')"))
open_err <- tagged(child, "open")
expect_true(startsWith(open_err, paste("Cannot open new stdout file `/no/such/dir/f`",
  system_error("ENOENT"), "@client:")), info = open_err)
expect_true(grepl("\\(tarnwick_set_stdout_to_file\\) $", open_err), info = open_err)
dup2_err <- tagged(child, "dup2")
expect_true(grepl(paste0("^Cannot reroute stdout ", as_regex(system_error("EBADF")),
  " @client:[0-9]+ \\(tarnwick_set_std\\) $"), dup2_err), info = dup2_err)
expect_equal(tagged(child, "same"), "TRUE ")

## ---- dup() fails at the descriptor limit: the file opened for it is closed ----
child <- run_in_child(c(
  "invisible(th('th_set_fd_limit', 64L))",
  "held <- th('th_exhaust_fds')",
  "invisible(th('th_close', held[length(held)]))",  # room for open(), none for dup()
  "before <- open_fds()",
  sprintf("e <- tryCatch(.Call(client:::tarnwick_set_stderr_to_file, %s),", q(err_file)),
  "  error = conditionMessage)",
  "same <- identical(before, open_fds())",
  "for (fd in held) th('th_close', fd)",
  "cat('emfile', same, e, '\\n')"))
expect_true(grepl(paste0("^TRUE Cannot reroute stderr ", as_regex(system_error("EMFILE")),
  " @client:[0-9]+ \\(tarnwick_set_std\\) $"), tagged(child, "emfile")),
  info = tagged(child, "emfile"))
