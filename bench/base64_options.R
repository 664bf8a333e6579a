# The options of base64_encode() and base64_decode(), each against the peers that offer
# it, at 1 KiB, 1 MiB and 64 MiB, and 10^5 short strings. Run by `make bench`, or
# `Rscript --vanilla bench/base64_options.R` from the package's root folder;
# BENCH_QUICK=1 skips 64 MiB and runs fewer rounds. One R process; candidates
# interleaved; medians of bench::mark (bench/timing.R). Every peer's output is checked
# against the package's before timing starts. Prints a table: median milliseconds per
# call and, on the package's rows, the fastest peer's median over its own (above 1, the
# package is faster). A size is that of the bytes; decoding takes their text.
suppressPackageStartupMessages({
  library(client)
  library(base64enc)
  library(jsonlite)
})
source("bench/timing.R")
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
reps <- if (quick) 3L else 7L
sizes <- c("64 MiB" = 2^26, "1 MiB" = 2^20, "1 KiB" = 2^10)
if (quick) sizes <- sizes[c("1 MiB", "1 KiB")]
cat(sprintf("load average at the start: %s\n", readLines("/proc/loadavg")))
cat(sprintf("%s mode: %s; %d rounds\n", if (quick) "quick" else "full",
            paste(names(sizes), collapse = ", "), reps))

# jsonlite breaks its text into lines; the package writes one line unless asked.
same_unbroken <- function(a, b) identical(a, gsub("\n", "", b))
# base64enc returns lines of `linewidth` characters as a character vector.
same_lines <- function(a, b) {
  identical(if (is.raw(a)) rawToChar(a) else a, paste(b, collapse = "\n"))
}

# Each case: the calls of the package (named "client" or "client, ...") and of its
# peers, which must all give the same result as `same` sees it.
cases_for <- function(n) {
  set.seed(n)
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  # Printable bytes, so that strings hold them in any locale.
  value <- rawToChar(as.raw(sample(0x20:0x7e, n, replace = TRUE)))
  url_text <- base64_encode(bytes, url = TRUE, pad = FALSE, as = "string")
  lines_76 <- base64_encode(bytes, width = 76, as = "string")
  text_of_value <- base64_encode(value, as = "string")
  list(
    `url, encode` = list(
      client = function() base64_encode(bytes, url = TRUE, pad = FALSE, as = "string"),
      jsonlite = function() base64url_enc(bytes),
      same = same_unbroken),
    `url, decode` = list(
      client = function() base64_decode(url_text, url = TRUE),
      jsonlite = function() base64url_dec(url_text)),
    `width = 76, encode` = list(
      `client, as = "raw"` = function() base64_encode(bytes, width = 76),
      `client, as = "string"` = function() {
        base64_encode(bytes, width = 76, as = "string")
      },
      base64enc = function() base64encode(bytes, linewidth = 76),
      same = same_lines),
    `breaks, decode 76 columns` = list(
      client = function() base64_decode(lines_76, breaks = TRUE),
      base64enc = function() base64decode(lines_76)),
    `as = "string", encode a string` = list(
      client = function() base64_encode(value, as = "string"),
      base64enc = function() base64encode(charToRaw(value)),
      jsonlite = function() base64_enc(value),
      same = same_unbroken),
    `as = "string", decode to a string` = list(
      client = function() base64_decode(text_of_value, as = "string"),
      base64enc = function() rawToChar(base64decode(text_of_value)),
      jsonlite = function() rawToChar(base64_dec(text_of_value))))
}

# 10^5 strings of 0 to 40 bytes, one result each; the peers go through vapply().
strings_cases <- function(values) {
  encoded <- base64_encode(values, as = "string")
  list(
    `as = "string", encode each` = list(
      client = function() base64_encode(values, as = "string"),
      # base64encode() gives character(0) for no bytes.
      base64enc = function() vapply(values, function(v) {
        c(base64encode(charToRaw(v)), "")[1]
      }, "", USE.NAMES = FALSE),
      jsonlite = function() vapply(values, base64_enc, "", USE.NAMES = FALSE)),
    `as = "string", decode each` = list(
      client = function() base64_decode(encoded, as = "string"),
      base64enc = function() vapply(encoded, function(v) rawToChar(base64decode(v)), "",
        USE.NAMES = FALSE),
      jsonlite = function() vapply(encoded, function(v) rawToChar(base64_dec(v)), "",
        USE.NAMES = FALSE)))
}

# Times the contenders of every case in one rotation, each on `bytes` of input; with
# `peer_bytes`, the peers on that many instead (it sets how many calls a round makes).
# Rows of medians, and on the package's rows the fastest peer's median over its own.
time_cases <- function(cases, size_name, bytes, peer_bytes = bytes) {
  calls <- list()
  call_bytes <- numeric()
  for (case in names(cases)) {
    contenders <- cases[[case]]
    same <- if (is.null(contenders$same)) identical else contenders$same
    contenders$same <- NULL
    ours <- startsWith(names(contenders), "client")
    for (who in names(contenders)[ours]) {
      result <- contenders[[who]]()
      for (peer in names(contenders)[!ours]) {
        if (!same(result, contenders[[peer]]())) {
          stop(sprintf("%s %s: %s differs from %s", size_name, case, peer, who))
        }
      }
    }
    for (who in names(contenders)) {
      key <- paste(case, who, sep = "|")
      calls[[key]] <- contenders[[who]]
      call_bytes[[key]] <- if (startsWith(who, "client")) bytes else peer_bytes
    }
  }
  medians <- median_times(calls, call_bytes, reps)
  do.call(rbind, lapply(names(cases), function(case) {
    keys <- names(medians)[startsWith(names(medians), paste0(case, "|"))]
    ms <- medians[keys] * 1e3
    who <- sub(".*\\|", "", keys)
    ours <- startsWith(who, "client")
    data.frame(size = size_name, case = case, who = who, median_ms = ms,
      peer_over_client = ifelse(ours, min(ms[!ours]) / ms, NA), row.names = NULL)
  }))
}

rows <- list()
for (size_name in names(sizes)) {
  rows[[size_name]] <- time_cases(cases_for(sizes[[size_name]]), size_name,
                                  sizes[[size_name]])
}
set.seed(1)
values <- vapply(sample(0:40, 1e5, TRUE), function(k) {
  rawToChar(as.raw(sample(0x20:0x7e, k, TRUE)))
}, "")
# A vapply() over 10^5 strings takes about a second: one call a round is enough.
rows$strings <- time_cases(strings_cases(values), "1e5 strings", sum(nchar(values)),
                           peer_bytes = min_round_bytes)

table <- do.call(rbind, rows)
# Three significant digits, without powers of ten.
table$median_ms <- sub("\\.$", "", formatC(signif(table$median_ms, 3), digits = 3,
                                            format = "fg", flag = "#"))
table$peer_over_client <- ifelse(is.na(table$peer_over_client), "",
                                 sprintf("%.2f", table$peer_over_client))
options(width = 120)
print(table, row.names = FALSE)
