# Timing shared by the benchmark scripts, which run from the package's root folder.

min_batch_bytes <- 16 * 2^20     # small inputs are timed in batches of calls

# Seconds per call of f, timed over a batch of calls sized to the input. Sys.time()
# resolves microseconds where proc.time() resolves milliseconds.
time_call <- function(f, bytes) {
  batch <- max(1L, as.integer(min_batch_bytes %/% bytes))
  invisible(gc())
  start <- Sys.time()
  for (k in seq_len(batch)) f()
  as.numeric(Sys.time() - start, units = "secs") / batch
}

# Times each function of `calls` (a named list) `reps` times, the order rotating from
# one round to the next, so that no function always runs right after another. `bytes`
# holds the input size of each call, or one for all. Returns the median seconds per
# call, by name.
median_times <- function(calls, bytes, reps) {
  timings <- list()
  keys <- names(calls)
  bytes <- rep_len(bytes, length(keys))
  names(bytes) <- keys
  for (r in seq_len(reps)) {
    for (key in keys[(seq_along(keys) + r - 2) %% length(keys) + 1]) {
      timings[[key]] <- c(timings[[key]], time_call(calls[[key]], bytes[[key]]))
    }
  }
  vapply(timings[keys], median, 0)
}
