# What sending R's own output along with the descriptor costs, and what the pieces
# built on it cost against their peers, side by side in one R process, candidates
# interleaved, medians. Run by `make bench`; BENCH_QUICK=1 runs fewer rounds.
#   - capture_output() and with_output_file() of one short line, against the same
#     calls with the descriptors alone rerouted, as they were before R's output went
#     along (the routes of run_rerouted() with divert = FALSE);
#   - fd_connection() writing 100 MB in 64 KiB pieces, against writeBin() to a file()
#     connection, both into /dev/null;
#   - a document of 200 short expressions knitted with knit_descriptors() and without.
suppressPackageStartupMessages(library(client))
source("bench/timing.R")
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
reps <- if (quick) 5L else 15L
ns <- asNamespace("client")
log <- tempfile()

# The package's capture and scoped reroute with the descriptors alone rerouted.
fd_only <- new.env(parent = ns)
fd_only$run_rerouted <- function(...) ns$run_rerouted(..., divert = FALSE)
capture_fd_only <- ns$capture
environment(capture_fd_only) <- fd_only
with_routes_fd_only <- ns$with_routes
environment(with_routes_fd_only) <- fd_only
line <- function() cat("one short line\n")
calls <- list(
  `capture_output()` = function() capture_output(line()),
  `capture_output(), descriptors alone` = function() {
    capture_fd_only(quote(capture_output()), c(1L, 2L), line(), FALSE)
  },
  `with_output_file()` = function() with_output_file(log, line()),
  `with_output_file(), descriptors alone` = function() {
    with_routes_fd_only(quote(with_output_file()), ns$both_to(log), line())
  })
us <- median_times(calls, 2^20, reps) * 1e6
cat(sprintf("load average at the start: %s\n", readLines("/proc/loadavg")))
print(data.frame(call = names(us), median_us = round(us, 1),
  over_descriptors_alone = round(us / rep(us[c(2, 4)], each = 2), 2), row.names = NULL),
  row.names = FALSE)

# 100 MB in 64 KiB pieces.
piece <- as.raw(rep_len(0:255, 2^16))
pieces <- ceiling(1e8 / length(piece))
null_fd <- .Call(ns$tarnwick_open_append, "/dev/null")
write_pieces <- function(con) for (i in seq_len(pieces)) writeBin(piece, con)
writers <- list(
  `fd_connection()` = function() {
    con <- fd_connection(null_fd)
    write_pieces(con)
    close(con)
  },
  `writeBin() to file()` = function() {
    con <- file("/dev/null", "wb")
    write_pieces(con)
    close(con)
  })
seconds <- vapply(in_rotation(names(writers), reps, function(key) {
  system.time(writers[[key]]())[["elapsed"]]
}), function(times) median(unlist(times)), 0)
print(data.frame(call = paste(names(seconds), "100 MB in 64 KiB"),
  median_ms = round(seconds * 1e3, 1), over_file = round(seconds /
    seconds[["writeBin() to file()"]], 2), row.names = NULL), row.names = FALSE)

# A document of 200 short expressions, each knitted in a fresh R.
if (requireNamespace("knitr", quietly = TRUE)) {
  folder <- tempfile("knit-bench-")
  dir.create(folder)
  expressions <- sprintf("x%d <- %d; cat(x%d, \"\\n\")", 1:200, 1:200, 1:200)
  documents <- c(with = "with.Rmd", without = "without.Rmd")
  writeLines(c("```{r}", "library(client)", "knit_descriptors()", expressions, "```"),
    file.path(folder, documents[["with"]]))
  writeLines(c("```{r}", "library(client)", expressions, "```"),
    file.path(folder, documents[["without"]]))
  knit_seconds <- function(document) {
    script <- sprintf("setwd('%s'); t <- system.time(knitr::knit('%s', quiet = TRUE));
      cat(t[['elapsed']])", folder, document)
    as.numeric(system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", "-e",
      shQuote(script)), stdout = TRUE, env = paste0("R_LIBS=", paste(.libPaths(),
      collapse = ":"))))
  }
  knitted <- vapply(in_rotation(names(documents), reps, function(key) {
    knit_seconds(documents[[key]])
  }), function(times) median(unlist(times)), 0)
  print(data.frame(document = c("200 expressions, knit_descriptors()",
    "200 expressions, plain"), median_ms = round(knitted * 1e3, 1),
    over_plain = round(knitted / knitted[["without"]], 2)), row.names = FALSE)
  unlink(folder, recursive = TRUE)
}
unlink(log)

# split = TRUE: 100 MB from a child program into a file, with the copy to standard
# output, a pipe that `cat` drains; the same call without split; and the shell's own
# `| tee`. Each R call is timed inside a fresh R whose standard output is that pipe.
# Then a call whose code prints one line, with split and without.
split_bytes <- 1e8
folder <- tempfile("split-bench-")
dir.create(folder)
program <- sprintf("head -c %.0f /dev/zero", split_bytes)
timed_in_child <- function(split) {
  result <- file.path(folder, "seconds")
  script <- file.path(folder, "child.R")
  writeLines(deparse(bquote({
    suppressMessages(library(client))
    f <- .(file.path(folder, "out"))
    t <- system.time(with_stdout_file(f, system(.(program)), split = .(split)))
    writeLines(format(t[["elapsed"]]), .(result))
  })), script)
  system(sprintf("R_LIBS=%s %s --vanilla %s | cat > /dev/null", shQuote(paste(.libPaths(),
    collapse = ":")), file.path(R.home("bin"), "Rscript"), shQuote(script)))
  as.numeric(readLines(result))
}
copies <- list(
  `with_stdout_file(split = TRUE)` = function() timed_in_child(TRUE),
  `with_stdout_file()` = function() timed_in_child(FALSE),
  `| tee` = function() system.time(system(sprintf("%s | tee %s | cat > /dev/null",
    program, shQuote(file.path(folder, "tee")))))[["elapsed"]])
copied <- vapply(in_rotation(names(copies), reps, function(key) copies[[key]]()),
  function(times) median(unlist(times)), 0)
print(data.frame(call = paste(names(copied), "100 MB"), median_ms = round(copied * 1e3),
  over_without_split = round(copied / copied[["with_stdout_file()"]], 2),
  over_tee = round(copied / copied[["| tee"]], 2), row.names = NULL), row.names = FALSE)
one_line <- list(
  `split = TRUE, one line` = function() {
    with_stdout_file(file.path(folder, "line"), cat("one line\n"), split = TRUE)
  },
  `without split, one line` = function() {
    with_stdout_file(file.path(folder, "line"), cat("one line\n"))
  })
saved <- set_stdout_file("/dev/null")   # where the split call's copies go
line_us <- median_times(one_line, 2^20, reps) * 1e6
set_stdout(saved)
print(data.frame(call = names(line_us), median_us = round(line_us, 1),
  added_us = round(line_us - line_us[[2]], 1), row.names = NULL), row.names = FALSE)
unlink(folder, recursive = TRUE)
