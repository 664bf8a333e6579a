# Timing shared by the benchmark scripts, which run from the package's root folder.
# bench::mark times every call on its own clock and tells which calls R collected
# garbage in; bench/timers.R compares it with the batch timer this file used to hold.

min_round_bytes <- 16 * 2^20     # calls on small inputs repeat up to this much input

# Times each function of `calls` (a named list) in `reps` rounds, the order rotating
# from one round to the next, so that no function always runs right after another. In
# a round, bench::mark times calls of one function up to 16 MiB of input, after gc(), so
# that the garbage of one function is not collected during the calls of the next.
# `bytes` holds the input size of each call, or one for all. Returns the median seconds
# per call over all rounds, by name, leaving out calls during which R collected garbage
# (unless all did).
median_times <- function(calls, bytes, reps) {
  times <- list()
  had_gc <- list()
  keys <- names(calls)
  bytes <- rep_len(bytes, length(keys))
  names(bytes) <- keys
  for (r in seq_len(reps)) {
    for (key in keys[(seq_along(keys) + r - 2) %% length(keys) + 1]) {
      calls_per_round <- max(1L, as.integer(min_round_bytes %/% bytes[[key]]))
      f <- calls[[key]]
      invisible(gc())
      m <- bench::mark(f(), iterations = calls_per_round, check = FALSE,
                       memory = FALSE, filter_gc = FALSE)
      gcs <- m$gc[[1]]
      times[[key]] <- c(times[[key]], as.numeric(m$time[[1]]))
      had_gc[[key]] <- c(had_gc[[key]], if (nrow(gcs) == 0) {
        rep(FALSE, calls_per_round)
      } else {
        rowSums(gcs) > 0
      })
    }
  }
  vapply(keys, function(key) {
    keep <- if (all(had_gc[[key]])) TRUE else !had_gc[[key]]
    median(times[[key]][keep])
  }, 0)
}
