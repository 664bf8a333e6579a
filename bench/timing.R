# Timing shared by the benchmark scripts, which run from the package's root folder.
# bench::mark times every call on its own clock and tells which calls R collected
# garbage in, so that those calls can be left out.

min_round_bytes <- 16 * 2^20     # calls on small inputs repeat up to this much input

# How many calls a round makes on input of `bytes` bytes.
calls_per_round <- function(bytes) max(1L, as.integer(min_round_bytes %/% bytes))

# Runs time_round(key) for each of `keys` in `reps` rounds, the order rotating from one
# round to the next, so that no key always runs right after another. Returns, by key,
# the list of what its rounds returned.
in_rotation <- function(keys, reps, time_round) {
  rounds <- sapply(keys, function(key) list(), simplify = FALSE)
  for (r in seq_len(reps)) {
    for (key in keys[(seq_along(keys) + r - 2) %% length(keys) + 1]) {
      rounds[[key]][[r]] <- time_round(key)
    }
  }
  rounds
}

# One round of bench::mark over calls of f on `bytes` of input, after gc() when
# `collect`, so that the garbage of one function is not collected during the calls of
# the next: the seconds of each call, and whether R collected garbage during it.
mark_round <- function(f, bytes, collect = TRUE) {
  calls <- calls_per_round(bytes)
  if (collect) invisible(gc())
  m <- bench::mark(f(), iterations = calls, check = FALSE, memory = FALSE,
                   filter_gc = FALSE)
  gcs <- m$gc[[1]]
  list(time = as.numeric(m$time[[1]]),
       had_gc = if (nrow(gcs) == 0) rep(FALSE, calls) else rowSums(gcs) > 0)
}

# The seconds of all calls of the rounds of mark_round(), and whether each had a gc.
round_times <- function(rounds) unlist(lapply(rounds, `[[`, "time"))
round_gcs <- function(rounds) unlist(lapply(rounds, `[[`, "had_gc"))

# The median seconds per call over rounds of mark_round(), leaving out calls during
# which R collected garbage (unless all did).
median_without_gc <- function(rounds) {
  had_gc <- round_gcs(rounds)
  keep <- if (all(had_gc)) TRUE else !had_gc
  median(round_times(rounds)[keep])
}

# Times each function of `calls` (a named list) in `reps` rounds of mark_round(), in
# rotation. `bytes` holds the input size of each call, or one for all. Returns the
# median seconds per call by name, calls with a gc left out.
median_times <- function(calls, bytes, reps) {
  bytes <- setNames(rep_len(bytes, length(calls)), names(calls))
  rounds <- in_rotation(names(calls), reps, function(key) {
    mark_round(calls[[key]], bytes[[key]])
  })
  vapply(rounds, median_without_gc, 0)
}
