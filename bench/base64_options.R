# The options of base64_encode() and base64_decode(), each against the fastest peer that
# offers it, at 1 MiB and 64 MiB; many short strings; and the file functions against
# coreutils' base64 on 1 GiB. Run by `make bench`; BENCH_QUICK=1 runs 64 MiB files and
# fewer rounds. One R process; candidates interleaved; medians of bench::mark.
suppressPackageStartupMessages({
  library(client)
  library(base64enc)
  library(jsonlite)
})
source("bench/timing.R")
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
reps <- if (quick) 3L else 7L
sizes <- c("64 MiB" = 2^26, "1 MiB" = 2^20)

# Each case: what is compared, the package's call, and the peers' calls; all must give
# the same result as `same` sees it.
cases_for <- function(n) {
  set.seed(n)
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  printable <- as.raw(sample(0x20:0x7e, n, replace = TRUE))
  url_text <- base64_encode(bytes, url = TRUE, pad = FALSE, as = "string")
  lines_76 <- base64_encode(bytes, width = 76, as = "string")
  text_of_printable <- base64_encode(printable, as = "string")
  list(
    `url, encode` = list(
      client = function() base64_encode(bytes, url = TRUE, pad = FALSE, as = "string"),
      jsonlite = function() base64url_enc(bytes),
      same = function(a, b) identical(a, gsub("\n", "", b))),
    `url, decode` = list(
      client = function() base64_decode(url_text, url = TRUE),
      jsonlite = function() base64url_dec(url_text)),
    `width = 76, encode` = list(
      client = function() base64_encode(bytes, width = 76, as = "string"),
      base64enc = function() base64encode(bytes, linewidth = 76),
      same = function(a, b) identical(a, paste(b, collapse = "\n"))),
    `breaks, decode 76 columns` = list(
      client = function() base64_decode(lines_76, breaks = TRUE),
      base64enc = function() base64decode(lines_76)),
    `as = "string", encode` = list(
      client = function() base64_encode(bytes, as = "string"),
      base64enc = function() base64encode(bytes),
      jsonlite = function() base64_enc(bytes),
      same = function(a, b) identical(a, gsub("\n", "", b))),
    `as = "string", decode` = list(
      client = function() base64_decode(text_of_printable, as = "string"),
      base64enc = function() rawToChar(base64decode(text_of_printable)),
      jsonlite = function() rawToChar(base64_dec(text_of_printable))))
}

# 10^5 strings of 0 to 40 bytes, one result each.
strings_cases <- function() {
  set.seed(1)
  values <- vapply(sample(0:40, 1e5, TRUE), function(k) {
    rawToChar(as.raw(sample(0x20:0x7e, k, TRUE)))
  }, "")
  encoded <- base64_encode(values, as = "string")
  list(
    `1e5 strings, encode` = list(
      client = function() base64_encode(values, as = "string"),
      base64enc = function() vapply(values, function(v) c(base64encode(charToRaw(v)), "")[1], "",
        USE.NAMES = FALSE),
      jsonlite = function() vapply(values, function(v) base64_enc(v), "",
        USE.NAMES = FALSE)),
    `1e5 strings, decode` = list(
      client = function() base64_decode(encoded, as = "string"),
      base64enc = function() vapply(encoded, function(v) rawToChar(base64decode(v)), "",
        USE.NAMES = FALSE),
      jsonlite = function() vapply(encoded, function(v) rawToChar(base64_dec(v)), "",
        USE.NAMES = FALSE)))
}

# Times the contenders of every case in one rotation; rows of medians and ratios.
time_cases <- function(cases, size_name, bytes) {
  calls <- list()
  for (case in names(cases)) {
    contenders <- cases[[case]]
    same <- if (is.null(contenders$same)) identical else contenders$same
    contenders$same <- NULL
    reference <- contenders$client()
    for (peer in setdiff(names(contenders), "client")) {
      if (!same(reference, contenders[[peer]]())) {
        stop(sprintf("%s %s: %s differs from client", size_name, case, peer))
      }
    }
    for (who in names(contenders)) calls[[paste(case, who, sep = "|")]] <- contenders[[who]]
  }
  medians <- median_times(calls, bytes, reps)
  do.call(rbind, lapply(names(cases), function(case) {
    keys <- names(medians)[startsWith(names(medians), paste0(case, "|"))]
    ms <- medians[keys] * 1e3
    who <- sub(".*\\|", "", keys)
    fastest_peer <- min(ms[who != "client"])
    data.frame(size = size_name, case = case, who = who, median_ms = ms,
      peer_over_client = fastest_peer / ms[who == "client"], row.names = NULL)
  }))
}

rows <- list()
for (size_name in names(sizes)) {
  cases <- cases_for(sizes[[size_name]])
  rows[[size_name]] <- time_cases(cases, size_name, sizes[[size_name]])
  rm(cases)
}
strings <- strings_cases()
rows$strings <- time_cases(strings, "1e5 strings", 2e6)

# Files: 1 GiB through the file functions and through coreutils, elapsed seconds.
file_bytes <- if (quick) 2^26 else 2^30
folder <- tempfile("bench-files-")
dir.create(folder)
input <- file.path(folder, "input")
system(sprintf("head -c %.0f /dev/urandom > %s", file_bytes, input))
paths <- file.path(folder, c("ours.b64", "theirs.b64", "ours.bin", "theirs.bin"))
seconds <- function(f) system.time(f())[["elapsed"]]
file_calls <- list(
  `file, encode|client` = function() base64_encode_file(input, paths[1]),
  `file, encode|coreutils` = function() system(sprintf("base64 -w0 %s > %s", input,
    paths[2])),
  `file, decode|client` = function() base64_decode_file(paths[2], paths[3]),
  `file, decode|coreutils` = function() system(sprintf("base64 -d %s > %s", paths[2],
    paths[4])))
file_times <- sapply(names(file_calls), function(key) {
  median(replicate(if (quick) 3L else 5L, seconds(file_calls[[key]])))
})
stopifnot(identical(tools::md5sum(paths[1]), setNames(tools::md5sum(paths[2]), paths[1])),
  identical(unname(tools::md5sum(paths[3])), unname(tools::md5sum(input))))
unlink(folder, recursive = TRUE)
for (direction in c("file, encode", "file, decode")) {
  ms <- file_times[paste(direction, c("client", "coreutils"), sep = "|")] * 1e3
  rows[[direction]] <- data.frame(size = sprintf("%.0f MiB", file_bytes / 2^20),
    case = direction, who = c("client", "coreutils"), median_ms = ms,
    peer_over_client = ms[2] / ms[1], row.names = NULL)
}

cat(sprintf("load average at the start: %s\n", readLines("/proc/loadavg")))
options(width = 120)
print(format(do.call(rbind, rows), digits = 3), row.names = FALSE)
