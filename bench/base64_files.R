# Base64 of files, as whole processes: base64_encode_file() and base64_decode_file(),
# each in an Rscript of its own, against coreutils' base64 on random files of 256 MiB
# and 1 GiB. Run by `make bench`, or `Rscript --vanilla bench/base64_files.R` from the
# package's root folder; BENCH_QUICK=1 takes 64 MiB and one run each. GNU time measures
# each process (elapsed seconds, peak resident memory); the package's processes and
# coreutils' alternate, 3 runs each; medians. The outputs must match byte for byte. The
# child R processes find the package where this script does, through R_LIBS. Files go in
# a folder of tempdir(), about 6 times the input size at most, removed at the end.
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
runs <- if (quick) 1L else 3L
sizes <- if (quick) c("64 MiB" = 2^26) else c("256 MiB" = 2^28, "1 GiB" = 2^30)
gnu_time <- "/usr/bin/time"
if (!file.exists(gnu_time)) stop("GNU time is missing: bash tools/apt.sh time")
invisible(find.package("client"))
rscript <- file.path(R.home("bin"), "Rscript")
r_libs <- paste0("R_LIBS=", shQuote(paste(.libPaths(), collapse = ":")))
cat(sprintf("load average at the start: %s\n", readLines("/proc/loadavg")))
cat(sprintf("%s mode: %s; %d run%s each\n", if (quick) "quick" else "full",
            paste(names(sizes), collapse = ", "), runs, if (runs > 1) "s" else ""))

# Each case: the package's function and its further arguments, coreutils' options, the
# file read (a name in `files`), and the file both outputs must equal, if not each other.
cases <- list(
  encode = list(client = "base64_encode_file", args = "", coreutils = "-w0",
                input = "data", expected = NULL),
  decode = list(client = "base64_decode_file", args = "", coreutils = "-d",
                input = "text", expected = "data"),
  `width = 76, encode` = list(client = "base64_encode_file", args = ", width = 76",
                              coreutils = "-w76", input = "data", expected = NULL),
  `breaks, decode 76 columns` = list(client = "base64_decode_file",
                                     args = ", breaks = TRUE", coreutils = "-d",
                                     input = "lines", expected = "data"))
# coreutils' output of a case that a later case reads.
kept <- c(encode = "text", `width = 76, encode` = "lines")

# Runs `command` with `args` under GNU time, its standard output into the file `stdout`
# if given, with the variables `env`. Returns the elapsed seconds and the peak resident
# memory in MB (10^6 bytes).
measured <- function(command, args, stdout = "", env = character()) {
  report <- tempfile("time-")
  on.exit(unlink(report))
  status <- system2(gnu_time, c("-f", shQuote("%e %M"), "-o", shQuote(report),
                                shQuote(command), args), stdout = stdout, env = env)
  if (status != 0) stop(sprintf("%s %s: exit status %d", command,
                                paste(args, collapse = " "), status))
  fields <- scan(report, quiet = TRUE)
  c(seconds = fields[1], peak_mb = fields[2] * 1024 / 1e6)
}

# Stops unless files `a` and `b` hold the same bytes; cmp tells where they part.
check_same <- function(a, b, what) {
  if (!identical(unname(tools::md5sum(a)), unname(tools::md5sum(b)))) {
    stop(sprintf("%s: %s and %s differ: %s", what, basename(a), basename(b),
                 paste(suppressWarnings(system2("cmp", shQuote(c(a, b)), stdout = TRUE,
                                                stderr = TRUE)), collapse = " ")))
  }
}

# Times the cases on a random file of n bytes in `folder`; rows of the table.
time_size <- function(size_name, n, folder) {
  files <- c(data = file.path(folder, "data"))
  system2("head", c("-c", format(n, scientific = FALSE), "/dev/urandom"),
          stdout = files[["data"]])
  rows <- list()
  for (case_name in names(cases)) {
    case <- cases[[case_name]]
    input <- files[[case$input]]
    outputs <- c(client = "client", coreutils = "coreutils")
    outputs[] <- file.path(folder, paste0(make.names(case_name), ".", outputs))
    expression <- sprintf("client::%s(%s, %s%s)", case$client, deparse(input),
                          deparse(outputs[["client"]]), case$args)
    run <- list(
      client = function() measured(rscript, c("--vanilla", "-e", shQuote(expression)),
                                   env = r_libs),
      coreutils = function() measured("base64", c(case$coreutils, shQuote(input)),
                                      stdout = outputs[["coreutils"]]))
    times <- list(client = list(), coreutils = list())
    for (r in seq_len(runs)) {
      for (who in names(run)) {
        # Each process creates its output afresh, and the writeback of the one before
        # happens outside the time of the next.
        unlink(outputs[[who]])
        system2("sync")
        times[[who]][[r]] <- run[[who]]()
      }
    }
    if (is.null(case$expected)) {
      check_same(outputs[["client"]], outputs[["coreutils"]], paste(size_name, case_name))
    } else {
      for (output in outputs) {
        check_same(output, files[[case$expected]], paste(size_name, case_name))
      }
    }
    medians <- sapply(times, function(t) apply(do.call(rbind, t), 2, median))
    rows[[case_name]] <- data.frame(size = size_name, case = case_name,
      who = colnames(medians), median_s = medians["seconds", ],
      peak_MB = medians["peak_mb", ],
      coreutils_over_client = c(medians["seconds", "coreutils"] /
                                  medians["seconds", "client"], NA), row.names = NULL)
    if (case_name %in% names(kept)) {
      files[[kept[[case_name]]]] <- outputs[["coreutils"]]
      unlink(outputs[["client"]])
    } else {
      unlink(outputs)
    }
  }
  unlink(files)
  do.call(rbind, rows)
}

# What the package's processes pay before any file: R's start and the package's load.
load_only <- shQuote('invisible(loadNamespace("client"))')
alone <- measured(rscript, c("--vanilla", "-e", load_only), env = r_libs)
cat(sprintf("Rscript loading the package alone: %.2f s, %.1f MB peak\n", alone[[1]],
            alone[[2]]))

folder <- tempfile("bench-files-")
dir.create(folder)
table <- tryCatch(
  do.call(rbind, lapply(names(sizes), function(size_name) {
    time_size(size_name, sizes[[size_name]], folder)
  })),
  finally = unlink(folder, recursive = TRUE))
table$median_s <- sprintf("%.2f", table$median_s)
table$peak_MB <- sprintf("%.1f", table$peak_MB)
table$coreutils_over_client <- ifelse(is.na(table$coreutils_over_client), "",
                                      sprintf("%.2f", table$coreutils_over_client))
options(width = 120)
print(table, row.names = FALSE)
