# Two ways of timing, on the same calls in one R process: the batch timer that bench/
# used to have and bench::mark, used plainly and in rotation with or without gc()
# first, the way bench/timing.R uses it. Each way produces a median per call
# several times over; the table shows their median, their spread (range and median
# absolute deviation, in percent of the median), the share of timed calls during which
# R collected garbage, and the seconds each median took. Run with `make bench-timers`;
# BENCH_QUICK=1 shortens it.
suppressPackageStartupMessages({
  library(client)
  library(bench)
})
source("bench/timing.R")

load_at_start <- readLines("/proc/loadavg")
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
repeats <- if (quick) 3L else 7L  # medians per call and way, for the spread
reps <- if (quick) 5L else 9L     # timings (batches or rounds) behind one median

enc <- function(x) .Call(client:::tarnwick_base64_encode, x)
dec <- function(x) .Call(client:::tarnwick_base64_decode, x)
alloc <- function(n) .Internal(vector("raw", n))

# The batch timer as bench/timing.R had it: gc(), then one Sys.time() around a batch of
# calls worth 16 MiB of input; the median of `reps` batch means, in rotation.
batch_medians <- function(calls, bytes, reps) {
  rounds <- in_rotation(names(calls), reps, function(key) {
    batch <- calls_per_round(bytes[[key]])
    f <- calls[[key]]
    invisible(gc())
    start <- Sys.time()
    for (k in seq_len(batch)) f()
    as.numeric(Sys.time() - start, units = "secs") / batch
  })
  list(median = list(`batch means` = vapply(rounds, function(r) median(unlist(r)), 0)),
       gc_share = setNames(rep(NA_real_, length(calls)), names(calls)))
}

# bench::mark in rotation, as bench/timing.R uses it, after gc() only when `collect`.
# Two medians over all calls of all rounds: of those during which R collected no
# garbage (as filter_gc does), and of all.
mark_medians <- function(calls, bytes, reps, collect) {
  rounds <- in_rotation(names(calls), reps, function(key) {
    mark_round(calls[[key]], bytes[[key]], collect)
  })
  list(median = list(filter_gc = vapply(rounds, median_without_gc, 0),
                     `all calls` = vapply(rounds, function(r) median(round_times(r)), 0)),
       gc_share = vapply(rounds, function(r) mean(round_gcs(r)), 0))
}

# bench::mark as its documentation shows it: all calls in one call, one after the
# other, each for half a second at least.
mark_plain <- function(calls, bytes, reps) {
  exprs <- lapply(names(calls), function(key) call(key))
  env <- list2env(calls)
  m <- bench::mark(exprs = exprs, env = env, check = FALSE, memory = FALSE,
                   min_time = 0.5, min_iterations = reps)
  gc_share <- vapply(m$gc, function(g) if (nrow(g) == 0) 0 else mean(rowSums(g) > 0), 0)
  list(median = list(filter_gc = setNames(as.numeric(m$median), names(calls))),
       gc_share = setNames(gc_share, names(calls)))
}

ways <- list(
  `batch timer` = function(calls, bytes) batch_medians(calls, bytes, reps),
  `mark, rotated` = function(calls, bytes) mark_medians(calls, bytes, reps, FALSE),
  `mark, rotated, gc() first` = function(calls, bytes)
    mark_medians(calls, bytes, reps, TRUE),
  `mark, plain` = function(calls, bytes) mark_plain(calls, bytes, reps))

sizes <- if (quick) c("1 KiB" = 2^10, "64 MiB" = 2^26) else
  c("1 KiB" = 2^10, "1 MiB" = 2^20, "64 MiB" = 2^26)

rows <- list()
for (size_name in names(sizes)) {
  n <- sizes[[size_name]]
  set.seed(n)
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  text <- enc(bytes)
  text_chr <- rawToChar(text)
  n_text <- length(text)
  calls <- list(
    `empty call` = function() NULL,
    `raw(n)` = function() alloc(n_text),
    encode = function() enc(bytes),
    decode = function() dec(text),
    `base64_decode(string)` = function() base64_decode(text_chr))
  input <- c(`empty call` = n, `raw(n)` = n, encode = n, decode = n_text,
             `base64_decode(string)` = n_text)
  # The ways take turns, so that a change of load on the machine reaches them all.
  results <- list()
  seconds <- setNames(numeric(length(ways)), names(ways))
  for (k in seq_len(repeats)) {
    for (way in names(ways)) {
      started <- Sys.time()
      results[[way]][[k]] <- ways[[way]](calls, input)
      seconds[[way]] <- seconds[[way]] + as.numeric(Sys.time() - started, units = "secs")
    }
  }
  for (way in names(ways)) {
    for (variant in names(results[[way]][[1]]$median)) {
      medians <- do.call(rbind, lapply(results[[way]], function(res) {
        res$median[[variant]]
      }))
      shares <- do.call(rbind, lapply(results[[way]], `[[`, "gc_share"))
      for (key in names(calls)) {
        m <- medians[, key]
        rows[[length(rows) + 1]] <- data.frame(
          size = size_name, call = key, way = paste(way, variant, sep = ", "),
          median_us = median(m) * 1e6,
          spread_pct = (max(m) - min(m)) / median(m) * 100,
          mad_pct = mad(m) / median(m) * 100,
          gc_share = mean(shares[, key]), s_per_median = seconds[[way]] / repeats)
      }
    }
  }
}
table <- do.call(rbind, rows)
table <- table[order(match(table$size, names(sizes)), table$call), ]
options(width = 120)
cat(sprintf("%d medians per call and way, each of %d batches or rounds\n", repeats, reps))
cat(sprintf("load average at the start: %s; at the end: %s\n", load_at_start,
            readLines("/proc/loadavg")))
print(format(table, digits = 3), row.names = FALSE)
