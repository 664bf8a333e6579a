# The close-on-exec sweep, observed through fcntl() in child R processes.
source("helpers.R")

## ---- standard descriptors, one behind a gap below 16, and the end of the sweep ----
child <- run_in_child(c(
  "for (fd in c(12L, 16L, 17L, 19L)) th('th_dup2', 0L, fd)",
  "invisible(th('th_close', 18L))",
  "p <- th('th_pipe'); invisible(th('th_set_nonblocking', p[2]))",
  "nonblock_before <- is_nonblocking(p[2])",
  "res <- .Call(client:::tarnwick_disable_inheritance)",
  "cat('null', is.null(res), '\\n')",
  "cat('marked', vapply(c(0:2, 12L, 16L, 17L), is_cloexec, NA), '\\n')",
  "cat('beyond', is_cloexec(19L), '\\n')",
  "cat('status', is_nonblocking(p[2]) && nonblock_before, '\\n')"))
expect_equal(child$status, 0L)
expect_equal(tagged(child, "null"), "TRUE ")
expect_equal(tagged(child, "marked"), "TRUE TRUE TRUE TRUE TRUE TRUE ")
expect_equal(tagged(child, "beyond"), "FALSE ")
expect_equal(tagged(child, "status"), "TRUE ")

## ---- a child program started afterwards inherits none of them ----
# The shell's redirection from descriptor 9 fails when the shell did not inherit it.
child <- run_in_child(c(
  "invisible(th('th_dup2', 0L, 9L))",
  "inherited <- function() system('{ true <&9; } 2>/dev/null') == 0",
  "before <- inherited()",
  "invisible(.Call(client:::tarnwick_disable_inheritance))",
  "cat('inherited', before, inherited(), '\\n')"))
expect_equal(tagged(child, "inherited"), "TRUE FALSE ")
