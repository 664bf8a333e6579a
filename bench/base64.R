# Base64 speed: this package against the floor (allocating the result) and its peers.
# Run with `make bench`. One R process; implementations interleaved; gc() before each
# timing; medians. Every output is checked against a reference before timing starts.
suppressPackageStartupMessages({
  library(client)
  library(base64enc)
  library(jsonlite)
})

reps <- 9L                       # timings per cell; the median is reported
min_batch_bytes <- 16 * 2^20     # small inputs are timed in batches of calls
sizes <- c("1 KiB" = 2^10, "64 KiB" = 2^16, "1 MiB" = 2^20, "64 MiB" = 2^26)
peers <- c("base64enc", "jsonlite")

enc <- function(x) .Call(client:::tarnwick_base64_encode, x)
dec <- function(x) .Call(client:::tarnwick_base64_decode, x)
alloc <- function(n) .Internal(vector("raw", n))  # the body of raw(n)

# Inputs and contenders of one size: encoding n bytes, and decoding n bytes of
# well-formed text that ends in one "=".
cases_for <- function(n) {
  set.seed(n)
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  text_bytes <- as.raw(sample(0:255, 3 * n / 4 - 1, replace = TRUE))
  text_raw <- enc(text_bytes)
  text_chr <- rawToChar(text_raw)
  n_text <- length(text_raw)
  n_out <- length(enc(bytes))
  n_dec <- length(text_bytes)
  list(
    encode = list(
      input = n, reference = base64encode(bytes),
      run = list(
        floor = function() alloc(n_out),
        client = function() enc(bytes),
        base64enc = function() base64encode(bytes),
        jsonlite = function() base64_enc(bytes)),
      # jsonlite breaks its text into lines of 72 characters; the rest is compared.
      same = function(out, ref)
        identical(gsub("\n", "", if (is.raw(out)) rawToChar(out) else out), ref)),
    decode = list(
      input = n_text, reference = text_bytes,
      run = list(
        floor = function() alloc(n_dec),
        client = function() dec(text_raw),
        base64enc = function() base64decode(text_chr),
        jsonlite = function() base64_dec(text_raw)),
      same = function(out, ref) identical(out, ref)))
}

# Seconds per call of f, timed over a batch of calls sized to the input.
time_call <- function(f, bytes) {
  batch <- max(1L, as.integer(min_batch_bytes %/% bytes))
  invisible(gc())
  start <- proc.time()[["elapsed"]]
  for (k in seq_len(batch)) f()
  (proc.time()[["elapsed"]] - start) / batch
}

rows <- list()
for (size_name in names(sizes)) {
  cases <- cases_for(sizes[[size_name]])
  for (direction in names(cases)) {
    case <- cases[[direction]]
    for (impl in setdiff(names(case$run), "floor")) {
      if (!case$same(case$run[[impl]](), case$reference))
        stop(sprintf("%s %s %s: output differs from the reference", size_name,
                     direction, impl))
    }
  }
  timings <- list()
  for (r in seq_len(reps)) {
    for (direction in names(cases)) {
      case <- cases[[direction]]
      impls <- names(case$run)
      for (impl in impls[(seq_along(impls) + r - 2) %% length(impls) + 1]) {
        key <- paste(direction, impl)
        timings[[key]] <- c(timings[[key]], time_call(case$run[[impl]], case$input))
      }
    }
  }
  for (direction in names(cases)) {
    medians <- vapply(names(cases[[direction]]$run),
                      function(impl) median(timings[[paste(direction, impl)]]), 0)
    fastest_peer <- min(medians[peers])
    for (impl in names(medians)) {
      rows[[length(rows) + 1]] <- data.frame(
        size = size_name, direction = direction, impl = impl,
        median_ms = medians[[impl]] * 1e3,
        MB_s = cases[[direction]]$input / medians[[impl]] / 1e6,
        x_floor = medians[[impl]] / medians[["floor"]],
        peer_speedup = fastest_peer / medians[[impl]])
    }
  }
  rm(cases)
}
table <- do.call(rbind, rows)
print(format(table, digits = 3), row.names = FALSE)

big <- table[table$size == "64 MiB" & table$impl == "client", ]
cat(sprintf("64 MiB: %s\n", paste(sprintf(
  "%s %.2fx floor, %.1fx faster than the fastest peer", big$direction, big$x_floor,
  big$peer_speedup), collapse = "; ")))
