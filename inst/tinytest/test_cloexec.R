# The close-on-exec sweep, observed through fcntl() in child R processes.
source("helpers.R")

## ---- standard descriptors, one behind a gap below 16, and the end of the sweep ----
# Every descriptor is opened before the gap at 18 is made, and each is put at a number
# of its own: under valgrind R holds more descriptors, and a pipe opened after the gap
# once took 18 and closed it, or landed where a duplicate then replaced it.
got <- in_child(quote({
  p <- th("th_pipe")
  invisible(th("th_dup2", p[2], 13L))  # a non-blocking descriptor the sweep marks
  if (!p[2] %in% c(12:13, 16:19)) invisible(th("th_close", p[2]))
  invisible(th("th_set_nonblocking", 13L))
  for (fd in c(12L, 16L, 17L, 18L, 19L)) th("th_dup2", 0L, fd)
  invisible(th("th_close", 18L))
  nonblocking_before <- is_nonblocking(13L)
  gap_before <- !(18L %in% open_fds())
  result <- .Call(client:::tarnwick_disable_inheritance)
  list(null = is.null(result), gap = gap_before,
    marked = vapply(c(0:2, 12L, 13L, 16L, 17L), is_cloexec, NA), beyond = is_cloexec(19L),
    other_flags_kept = nonblocking_before && is_nonblocking(13L))
}))
expect_identical(got$value, list(null = TRUE, gap = TRUE, marked = rep(TRUE, 7),
  beyond = FALSE, other_flags_kept = TRUE), info = paste(got$output, collapse = "\n"))

## ---- a child program started afterwards inherits none of them ----
# The shell's redirection from descriptor 9 fails when the shell did not inherit it.
# Through the exported function, whose value is an invisible NULL.
got <- in_child(quote({
  invisible(th("th_dup2", 0L, 9L))
  inherited <- function() system("{ true <&9; } 2>/dev/null") == 0
  before <- inherited()
  result <- withVisible(disable_inheritance())
  list(before = before, after = inherited(), marked = is_cloexec(9L),
    value = result$value, visible = result$visible)
}))
expect_identical(got$value, list(before = TRUE, after = FALSE, marked = TRUE,
  value = NULL, visible = FALSE), info = paste(got$output, collapse = "\n"))
