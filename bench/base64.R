# Base64 speed: this package, through its routines and its exported functions, against
# the floor (raw(n) of the result's length), a copy of the input and its peers. Run with
# `make bench`; BENCH_QUICK=1 runs fewer sizes and rounds. One R process;
# implementations interleaved; timed by bench::mark (bench/timing.R); medians. Every
# output is checked against a reference before timing starts. Prints a table and a
# summary line and draws bench/throughput.png (BENCH_PNG= names another file).
suppressPackageStartupMessages({
  library(client)
  library(base64enc)
  library(jsonlite)
})

source("bench/timing.R")
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
reps <- if (quick) 3L else 9L    # rounds per cell; the median is reported
png_file <- Sys.getenv("BENCH_PNG", "bench/throughput.png")
kib <- 2^10
mib <- 2^20
# Largest first: vectors below malloc's heap threshold (32 MiB on 64-bit glibc) leave
# freed heap memory behind, already faulted in, which a later vector of 48 MiB can
# reuse; raw(n) then no longer measures R's allocation of a fresh vector.
sizes <- c("64 MiB" = 64 * mib, "32 MiB" = 32 * mib, "16 MiB" = 16 * mib,
           "4 MiB" = 4 * mib, "1 MiB" = mib, "256 KiB" = 256 * kib, "64 KiB" = 64 * kib,
           "16 KiB" = 16 * kib, "4 KiB" = 4 * kib, "1 KiB" = kib)
if (quick) sizes <- sizes[c("64 MiB", "1 MiB", "64 KiB", "1 KiB")]
peers <- c("base64enc", "jsonlite")
# The machine, for the figure: processor, the vector extension the codec takes on
# x86-64, and the load average when the run began.
cpuinfo <- if (file.exists("/proc/cpuinfo")) readLines("/proc/cpuinfo") else character()
cpu <- sub(".*:\\s*", "", grep("^model name", cpuinfo, value = TRUE)[1])
if (is.na(cpu)) cpu <- Sys.info()[["machine"]]
flags <- strsplit(grep("^flags", cpuinfo, value = TRUE)[1], "\\s+")[[1]]
if ("avx512vbmi" %in% flags) {
  cpu <- paste(cpu, "with AVX-512 VBMI")
} else if ("avx2" %in% flags) {
  cpu <- paste(cpu, "with AVX2")
}
load_at_start <- if (file.exists("/proc/loadavg")) {
  strsplit(readLines("/proc/loadavg"), " ")[[1]][1]
} else {
  "unknown"
}

enc <- function(x) .Call(client:::tarnwick_base64_encode, x)
dec <- function(x) .Call(client:::tarnwick_base64_decode, x)
alloc <- function(n) .Internal(vector("raw", n))  # the body of raw(n)
address <- function(x) .Internal(address(x))

# A copy of `x` that R cannot skip: changing an element of a vector that another name
# still refers to makes R duplicate the whole vector first (copy on modify). The one
# element written is the one already there.
copy_of <- function(x) function() {
  y <- x
  y[1L] <- x[1L]
  y
}

# A decoding case: text of n characters made from `bytes`, as a raw vector and a string.
decode_case <- function(bytes) {
  text_raw <- enc(bytes)
  text_chr <- rawToChar(text_raw)
  n_out <- length(bytes)
  list(
    input = text_raw, reference = bytes,
    run = list(
      floor = function() alloc(n_out),
      copy = copy_of(text_raw),
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
      input = bytes, reference = base64encode(bytes),
      run = list(
        floor = function() alloc(n_out),
        copy = copy_of(bytes),
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
    for (impl in setdiff(names(case$run), c("floor", "copy"))) {
      if (!case$same(case$run[[impl]](), case$reference))
        stop(sprintf("%s %s %s: output differs from the reference", size_name,
                     direction, impl))
    }
    copied <- case$run$copy()
    if (!identical(copied, case$input) || identical(address(copied), address(case$input)))
      stop(sprintf("%s %s copy: not a copy of the input", size_name, direction))
  }
  # Every contender of every direction in one rotation, so that none always follows
  # the same one.
  calls <- list()
  input_bytes <- numeric()
  for (direction in names(cases)) {
    for (impl in names(cases[[direction]]$run)) {
      key <- paste(direction, impl, sep = "|")
      calls[[key]] <- cases[[direction]]$run[[impl]]
      input_bytes[[key]] <- length(cases[[direction]]$input)
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
        MB_s = length(cases[[direction]]$input) / medians[[impl]] / 1e6,
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

# The figure: input bytes per second against input size, both on log axes, a panel
# for each direction. Throughput of the input throughout, so that the lines of a panel
# compare: higher is faster.
lines_drawn <- list(
  list(impl = "exported", label = "R function", col = "#56B4E9", lty = 1, pch = 1),
  list(impl = "routine", label = "its routine, .Call()", col = "#0072B2", lty = 1,
       pch = 19),
  list(impl = "base64enc", label = "base64enc", col = "#D55E00", lty = 1, pch = 17),
  list(impl = "jsonlite", label = "jsonlite", col = "#CC79A7", lty = 1, pch = 15),
  list(impl = "floor", label = "raw(length of result)", col = "black", lty = 2,
       pch = NA),
  list(impl = "copy", label = "copy of the input", col = "grey50", lty = 3, pch = NA))
panels <- list(
  encode = list(exported = "base64_encode(raw)", title = "Encoding: base64_encode()",
                x = "input size (bytes, log scale)"),
  decode = list(exported = "base64_decode(raw)", title = "Decoding: base64_decode()",
                x = "input size (characters of text, log scale)"))

# "1 KiB" and so on for bytes; "2 GB/s" and so on for bytes per second.
size_label <- function(n) ifelse(n >= mib, paste(n / mib, "MiB"), paste(n / kib, "KiB"))
rate_label <- function(r) ifelse(r >= 1e9, paste(r / 1e9, "GB/s"), paste(r / 1e6, "MB/s"))

draw_throughput <- function(file) {
  png(file, width = 960, height = 560, res = 96, pointsize = 13,
      type = if (capabilities("cairo")) "cairo" else getOption("bitmapType"))
  on.exit(dev.off())
  layout(matrix(c(1, 2, 3, 3), 2, byrow = TRUE), heights = c(5, 1))
  par(oma = c(0, 0, 1.8, 0), mar = c(4, 5, 2, 0.8), mgp = c(2.4, 0.6, 0), las = 1,
      tcl = -0.3)
  shown <- table[table$direction %in% names(panels), ]
  rate <- shown$MB_s * 1e6
  y_range <- range(rate) * c(0.85, 1.2)
  steps <- as.vector(outer(c(1, 2, 5), 10^(6:11)))
  steps <- steps[steps >= y_range[1] & steps <= y_range[2]]
  labelled_sizes <- c(1, 16, 256, 4096, 65536) * kib
  for (direction in names(panels)) {
    panel <- panels[[direction]]
    cells <- table[table$direction == direction, ]
    plot(NA, log = "xy", xlim = range(sizes), ylim = y_range, axes = FALSE,
         xlab = panel$x, ylab = "", main = panel$title, font.main = 1)
    title(ylab = "input bytes per second (log scale)", mgp = c(3.9, 0, 0))
    abline(h = steps, v = sizes, col = "grey90")
    axis(1, at = sizes, labels = FALSE)
    axis(1, at = labelled_sizes, labels = size_label(labelled_sizes), cex.axis = 0.85)
    axis(2, at = steps, labels = rate_label(steps), cex.axis = 0.85)
    box()
    for (l in lines_drawn) {
      impl <- if (l$impl == "exported") panel$exported else l$impl
      cell <- cells[cells$impl == impl, ]
      cell <- cell[order(sizes[cell$size]), ]
      lines(sizes[cell$size], cell$MB_s * 1e6, col = l$col, lty = l$lty, lwd = 2.4)
      if (!is.na(l$pch)) points(sizes[cell$size], cell$MB_s * 1e6, col = l$col,
                                pch = l$pch, cex = 1.1)
    }
  }
  mtext("Base64 throughput by input size: higher is faster", outer = TRUE, font = 2,
        cex = 1.25, line = 0.3)
  par(mar = c(0, 0, 0, 0))
  plot.new()
  legend("top", legend = vapply(lines_drawn, `[[`, "", "label"), ncol = 3,
         col = vapply(lines_drawn, `[[`, "", "col"),
         lty = vapply(lines_drawn, `[[`, 0, "lty"),
         pch = vapply(lines_drawn, `[[`, 0, "pch"), lwd = 2.4, bty = "n",
         seg.len = 3, x.intersp = 0.6)
  mtext(sprintf(paste("inputs are raw vectors; medians of %d rounds of bench::mark;",
                      "%s; R %s; load average %s at the start"),
                reps, cpu, paste(R.version$major, R.version$minor, sep = "."),
                load_at_start), side = 1, line = -1.4, cex = 0.75, col = "grey35")
}
draw_throughput(png_file)
cat(sprintf("figure: %s\n", png_file))
