# Base64 speed: this package, through its routines and its exported functions, against
# the floor (raw(n) of the result's length) and its peers. Run with `make bench`. One R
# process; implementations interleaved; gc() before each timing; medians. Every output
# is checked against a reference before timing starts.
suppressPackageStartupMessages({
  library(client)
  library(base64enc)
  library(jsonlite)
})

source("bench/timing.R")
reps <- 9L                       # timings per cell; the median is reported
mib <- 2^20
# Largest first: vectors below malloc's heap threshold (32 MiB on 64-bit glibc) leave
# freed heap memory behind, already faulted in, which a later vector of 48 MiB can
# reuse; raw(n) then no longer measures R's allocation of a fresh vector.
sizes <- c("64 MiB" = 64 * mib, "32 MiB" = 32 * mib, "16 MiB" = 16 * mib,
           "4 MiB" = 4 * mib, "1 MiB" = mib, "64 KiB" = 2^16, "1 KiB" = 2^10)
peers <- c("base64enc", "jsonlite")

enc <- function(x) .Call(client:::tarnwick_base64_encode, x)
dec <- function(x) .Call(client:::tarnwick_base64_decode, x)
alloc <- function(n) .Internal(vector("raw", n))  # the body of raw(n)

# A decoding case: text of n characters made from `bytes`, as a raw vector and a string.
decode_case <- function(bytes) {
  text_raw <- enc(bytes)
  text_chr <- rawToChar(text_raw)
  n_out <- length(bytes)
  list(
    input = length(text_raw), reference = bytes,
    run = list(
      floor = function() alloc(n_out),
      routine = function() dec(text_raw),
      `base64_decode(raw)` = function() base64_decode(text_raw),
      `base64_decode(string)` = function() base64_decode(text_chr),
      base64enc = function() base64decode(text_chr),
      jsonlite = function() base64_dec(text_raw)),
    same = function(out, ref) identical(out, ref))
}

# Inputs and contenders of one size n: encoding n bytes, and decoding n characters of
# well-formed text, ending in one "=" and without "=".
cases_for <- function(n) {
  set.seed(n)
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  n_out <- length(enc(bytes))
  list(
    encode = list(
      input = n, reference = base64encode(bytes),
      run = list(
        floor = function() alloc(n_out),
        routine = function() enc(bytes),
        `base64_encode(raw)` = function() base64_encode(bytes),
        base64enc = function() base64encode(bytes),
        jsonlite = function() base64_enc(bytes)),
      # jsonlite breaks its text into lines of 72 characters; the rest is compared.
      same = function(out, ref)
        identical(gsub("\n", "", if (is.raw(out)) rawToChar(out) else out), ref)),
    decode = decode_case(as.raw(sample(0:255, 3 * n / 4 - 1, replace = TRUE))),
    `decode, no "="` = decode_case(as.raw(sample(0:255, 3 * n / 4, replace = TRUE))))
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
  # Every contender of every direction in one rotation, so that none always follows
  # the same one.
  calls <- list()
  input_bytes <- numeric()
  for (direction in names(cases)) {
    for (impl in names(cases[[direction]]$run)) {
      key <- paste(direction, impl, sep = "|")
      calls[[key]] <- cases[[direction]]$run[[impl]]
      input_bytes[[key]] <- cases[[direction]]$input
    }
  }
  timings <- median_times(calls, input_bytes, reps)
  for (direction in names(cases)) {
    medians <- timings[paste(direction, names(cases[[direction]]$run), sep = "|")]
    names(medians) <- names(cases[[direction]]$run)
    fastest_peer <- min(medians[peers])
    for (impl in names(medians)) {
      rows[[length(rows) + 1]] <- data.frame(
        size = size_name, direction = direction, impl = impl,
        median_ms = medians[[impl]] * 1e3,
        MB_s = cases[[direction]]$input / medians[[impl]] / 1e6,
        x_raw_n = medians[[impl]] / medians[["floor"]],
        peer_speedup = fastest_peer / medians[[impl]])
    }
  }
  rm(cases)
}
table <- do.call(rbind, rows)
thp <- "/sys/kernel/mm/transparent_hugepage/enabled"
cat(sprintf("transparent huge pages: %s\n",
            if (file.exists(thp)) readLines(thp) else "not available"))
options(width = 120)
print(format(table, digits = 3), row.names = FALSE)

# The summary: the routines, as before, then the exported functions.
summary_cells <- list(
  c("encode", "encode", "routine"), c("decode", "decode", "routine"),
  c("base64_encode(raw)", "encode", "base64_encode(raw)"),
  c("base64_decode(raw)", "decode", "base64_decode(raw)"),
  c('base64_decode(raw) without "="', 'decode, no "="', "base64_decode(raw)"),
  c("base64_decode(string)", "decode", "base64_decode(string)"))
cat(sprintf("64 MiB: %s\n", paste(vapply(summary_cells, function(cell) {
  row <- table[table$size == "64 MiB" & table$direction == cell[2] &
               table$impl == cell[3], ]
  sprintf("%s %.2fx floor, %.1fx faster than the fastest peer", cell[1], row$x_raw_n,
          row$peer_speedup)
}, ""), collapse = "; ")))
