# The codec routines of this tree against those of an earlier build, in one R process:
# `make bench-against BASELINE=<git revision>`. The earlier shared object is loaded
# beside the installed package (it keeps the name client.so, which its entry point
# needs) and called through its own registered symbols. Interleaved; gc() before each
# timing; medians.
# Usage: Rscript bench/against.R path/to/earlier/client.so
library(client)

source("bench/timing.R")
reps <- 15L
sizes <- c("1 KiB" = 2^10, "64 KiB" = 2^16, "1 MiB" = 2^20, "4 MiB" = 2^22,
           "16 MiB" = 2^24, "32 MiB" = 2^25, "64 MiB" = 2^26)

routines_of <- function(dll) {
  symbol <- function(name) getNativeSymbolInfo(name, dll, withRegistrationInfo = TRUE)
  list(encode = symbol("tarnwick_base64_encode"), decode = symbol("tarnwick_base64_decode"))
}
builds <- list(earlier = routines_of(dyn.load(commandArgs(TRUE)[1])),
               this = routines_of(getLoadedDLLs()[["client"]]))

rows <- list()
for (size_name in names(sizes)) {
  n <- sizes[[size_name]]
  set.seed(n)
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  # Texts of about n characters: 3 * n / 4 - 1 bytes end in "=", 3 * n / 4 do not.
  inputs <- list(encode = bytes,
                 decode = .Call(builds$this$encode, bytes[seq_len(3 * n / 4 - 1)]),
                 `decode, no "="` = .Call(builds$this$encode, bytes[seq_len(3 * n / 4)]))
  calls <- list()
  for (direction in names(inputs)) {
    routine <- if (direction == "encode") "encode" else "decode"
    for (build in names(builds)) {
      calls[[paste(direction, build, sep = "|")]] <- local({
        f <- builds[[build]][[routine]]
        x <- inputs[[direction]]
        function() .Call(f, x)
      })
    }
    if (!identical(calls[[paste(direction, "earlier", sep = "|")]](),
                   calls[[paste(direction, "this", sep = "|")]]()))
      stop(sprintf("%s %s: the builds disagree", size_name, direction))
  }
  medians <- median_times(calls, n, reps)
  for (direction in names(inputs)) {
    ms <- medians[paste(direction, names(builds), sep = "|")] * 1e3
    names(ms) <- names(builds)
    rows[[length(rows) + 1]] <- data.frame(size = size_name, direction = direction,
      earlier_ms = ms[["earlier"]], this_ms = ms[["this"]],
      this_over_earlier = ms[["this"]] / ms[["earlier"]])
  }
}
print(format(do.call(rbind, rows), digits = 3), row.names = FALSE)
