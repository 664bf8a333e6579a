# The codec of this tree against that of an earlier revision, in one R process, through
# the routines and through the exported functions: `make bench-against BASELINE=<git
# revision>`; BENCH_QUICK=1 runs two sizes and fewer rounds. The earlier build's library
# is loaded beside the installed package: the one its NAMESPACE names (client.so, or
# client_package.so since the package has a library of its own), from the folder of
# EARLIER_CLIENT_SO. It keeps its name, which its entry point needs. The earlier R code
# is sourced into an environment of its own where the names of all the routines of that
# library lead to it. Interleaved; gc() before each timing; medians.
# Usage: Rscript bench/against.R EARLIER_SOURCE_DIR EARLIER_CLIENT_SO
library(client)
source("bench/timing.R")
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
reps <- if (quick) 5L else 15L
sizes <- c("64 MiB" = 2^26, "32 MiB" = 2^25, "16 MiB" = 2^24, "4 MiB" = 2^22,
           "1 MiB" = 2^20, "64 KiB" = 2^16, "1 KiB" = 2^10)
if (quick) sizes <- sizes[c("1 MiB", "1 KiB")]

# The codec of a build, from the environment its R code runs in: its two routines and
# its two exported functions.
codec_of <- function(code) {
  list(encode = get("tarnwick_base64_encode", code),
       decode = get("tarnwick_base64_decode", code),
       base64_encode = get("base64_encode", code),
       base64_decode = get("base64_decode", code))
}
args <- commandArgs(TRUE)
earlier_library <- unname(parseNamespaceFile(basename(args[1]), dirname(args[1]))$dynlibs)
earlier_dll <- dyn.load(file.path(dirname(args[2]),
                                  paste0(earlier_library[1], .Platform$dynlib.ext)))
earlier_code <- new.env(parent = asNamespace("client"))
for (file in dir(file.path(args[1], "R"), full.names = TRUE)) sys.source(file, earlier_code)
# All of them: a routine the earlier code calls must not be found in this tree's.
for (routine in getDLLRegisteredRoutines(earlier_dll)$.Call) {
  assign(routine$name, routine, earlier_code)
}
# Installed packages are byte-compiled; so must the earlier functions be, to compare.
for (name in ls(earlier_code)) {
  f <- get(name, earlier_code)
  if (is.function(f)) assign(name, compiler::cmpfun(f), earlier_code)
}
builds <- list(earlier = codec_of(earlier_code), this = codec_of(asNamespace("client")))

# Each case: the input and how each build is called on it.
cases_for <- function(n) {
  set.seed(n)
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  # Texts of about n characters: 3 * n / 4 - 1 bytes end in "=", 3 * n / 4 do not.
  text <- base64_encode(bytes[seq_len(3 * n / 4 - 1)])
  text_no_pad <- base64_encode(bytes[seq_len(3 * n / 4)])
  routine <- function(name, x) function(codec) .Call(codec[[name]], x)
  exported <- function(name, x) function(codec) codec[[name]](x)
  list(`encode routine` = routine("encode", bytes),
       `decode routine` = routine("decode", text),
       `decode routine, no "="` = routine("decode", text_no_pad),
       `base64_encode(raw)` = exported("base64_encode", bytes),
       `base64_decode(raw)` = exported("base64_decode", text),
       `base64_decode(raw), no "="` = exported("base64_decode", text_no_pad))
}

rows <- list()
for (size_name in names(sizes)) {
  n <- sizes[[size_name]]
  cases <- cases_for(n)
  calls <- list()
  for (case in names(cases)) {
    for (build in names(builds)) {
      calls[[paste(case, build, sep = "|")]] <- local({
        run <- cases[[case]]
        codec <- builds[[build]]
        function() run(codec)
      })
    }
    if (!identical(calls[[paste(case, "earlier", sep = "|")]](),
                   calls[[paste(case, "this", sep = "|")]]()))
      stop(sprintf("%s %s: the builds disagree", size_name, case))
  }
  medians <- median_times(calls, n, reps) * 1e3
  for (case in names(cases)) {
    ms <- medians[paste(case, names(builds), sep = "|")]
    rows[[length(rows) + 1]] <- data.frame(size = size_name, call = case,
      earlier_ms = ms[[1]], this_ms = ms[[2]], this_over_earlier = ms[[2]] / ms[[1]])
  }
  rm(cases, calls)
}
options(width = 120)
print(format(do.call(rbind, rows), digits = 3), row.names = FALSE)
