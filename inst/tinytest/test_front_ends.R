# R's own output goes where the call sends the descriptor, in every front end: a
# console that shows R's output itself, a sink of either type, capture.output(), and
# knitr documents, with and without knit_descriptors(). Every case runs in a child.
source("helpers.R")

# What each function does with the four kinds of output of `emit`: R's standard output
# ("o R"), a message ("e R") and a child program's two streams ("o child", "e child").
# `taken` is what the call returns or writes to its file (or, unless `gives`, silences);
# the rest stays where it was.
functions <- list(
  capture_stdout = list(call = quote(capture_stdout(emit(tag))), taken = c("o R", "o child")),
  capture_stderr = list(call = quote(capture_stderr(emit(tag))), taken = c("e R", "e child")),
  capture_output = list(call = quote(capture_output(emit(tag))),
    taken = c("o R", "e R", "o child", "e child")),
  with_stdout_file = list(call = quote({ with_stdout_file(f, emit(tag)); readLines(f) }),
    taken = c("o R", "o child")),
  with_stderr_file = list(call = quote({ with_stderr_file(f, emit(tag)); readLines(f) }),
    taken = c("e R", "e child")),
  with_output_file = list(call = quote({ with_output_file(f, emit(tag)); readLines(f) }),
    taken = c("o R", "e R", "o child", "e child")),
  with_stdout = list(call = quote({ with_stdout(open_log(f), emit(tag)); readLines(f) }),
    taken = c("o R", "o child")),
  with_stderr = list(call = quote({ with_stderr(open_log(f), emit(tag)); readLines(f) }),
    taken = c("e R", "e child")),
  suppress_output = list(call = quote({ suppress_output(emit(tag)); character() }),
    taken = c("o R", "e R", "o child", "e child"), gives = FALSE))
kinds <- c("o R", "e R", "o child", "e child")

# Runs every call of `calls` once, tagged by its name; returns what each call gave.
calls <- lapply(functions, `[[`, "call")
run_all <- quote(function(calls) {
  emit <- function(tag) {
    cat("o R", tag, "\n")
    message("e R ", tag, " ")
    system(sprintf("echo o child %s; echo e child %s 1>&2", tag, tag))
  }
  open_log <- function(path) .Call(client:::tarnwick_open_append, path)
  lapply(setNames(names(calls), names(calls)), function(tag) {
    f <- tempfile()
    trimws(eval(calls[[tag]]))
  })
})

# Lines of `kind` for each function that leaves that kind where it was.
left <- function(kind) {
  tags <- names(Filter(function(fn) !kind %in% fn$taken, functions))
  paste(kind, tags)
}
taken <- lapply(setNames(names(functions), names(functions)), function(tag) {
  if (isFALSE(functions[[tag]]$gives)) character() else paste(functions[[tag]]$taken, tag)
})

## ---- a console that shows R's output itself ----
# An embedding front end, as GUI consoles are: R prints through its console callback,
# never through descriptors 1 and 2.
# Builds it; returns its path, or why it cannot be built.
console_program <- function() {
  binary <- file.path(tempdir(), "console")
  r <- file.path(R.home("bin"), "R")
  config <- function(what) {
    suppressWarnings(system2(r, c("CMD", "config", what), stdout = TRUE, stderr = TRUE))
  }
  ldflags <- config("--ldflags")
  if (!any(grepl("-lR", ldflags, fixed = TRUE))) {
    return(list(why = "R is not built as a shared library here"))
  }
  source <- system.file("tinytest", "native", "console.c", package = "client")
  # CC may carry options of its own ("gcc -std=gnu99").
  cc <- strsplit(trimws(config("CC")[1]), " +")[[1]]
  out <- tryCatch(suppressWarnings(system2(cc[1], c(cc[-1], config("--cppflags"), "-o",
    shQuote(binary), shQuote(source), ldflags), stdout = TRUE, stderr = TRUE)),
    error = conditionMessage)
  if (file.exists(binary)) return(list(binary = binary))
  list(why = paste("it does not build here:", out[1]))
}
console <- console_program()
if (is.null(console$binary)) {
  skip_block(paste("a console front end:", console$why))
} else {
  binary <- console$binary
  files <- setNames(replicate(6, tempfile()), c("out", "err", "fd1", "fd2", "result",
    "calls"))
  saveRDS(calls, files[["calls"]])
  script <- tempfile(fileext = ".R")
  writeLines(deparse(bquote({
    suppressMessages(library(client))
    result <- (.(run_all))(readRDS(.(files[["calls"]])))
    # A failing capture shows what its code printed on the console, then the error.
    try(capture_stdout({ cat("printed before the error\n"); stop("boom") }))
    # split = TRUE: R's own line also reaches the console, as sink(split = TRUE) sends
    # it, and the copy of the file reaches the earlier descriptor 1.
    split_file <- tempfile()
    with_stdout_file(split_file, { cat("R split\n"); system("echo child split") },
      split = TRUE)
    result$split <- readLines(split_file)
    saveRDS(result, .(files[["result"]]))
  }), width.cutoff = 500L), script)
  status <- system2(binary, shQuote(c(files[["out"]], files[["err"]], script)),
    stdout = files[["fd1"]], stderr = files[["fd2"]],
    env = c(child_env(), paste0("R_HOME=", R.home())))
  shown <- lapply(files[c("out", "err", "fd1", "fd2")], function(f) trimws(readLines(f)))
  info <- paste(status, paste(unlist(shown), collapse = "\n"))
  result <- readRDS(files[["result"]])
  expect_identical(result, c(taken, list(split = c("R split", "child split"))),
    info = info)
  expect_identical(shown$out, c(left("o R"), "printed before the error", "R split"),
    info = info)
  expect_identical(shown$err[seq_along(left("e R"))], left("e R"), info = info)
  expect_true(any(grepl("boom", shown$err[-seq_along(left("e R"))])), info = info)
  expect_identical(list(shown$fd1, shown$fd2), list(c(left("o child"), "R split",
    "child split"), left("e child")), info = info)
  unlink(c(files, script))
}

## ---- sinks of both types, nested, and pushed by code; capture.output() ----
# Under a sink R's output never reached the descriptor: the calls took only the child
# programs' lines, and the sink got R's own.
got <- in_child(bquote({
  run_all <- .(run_all)
  sinks <- replicate(4, tempfile())
  messages <- file(sinks[4], "w")
  sink(sinks[1])
  sink(sinks[2])
  sink(messages, type = "message")
  result <- run_all(calls)
  stack <- c(sink.number(), sink.number(type = "message") == getConnection(messages))
  cat("after, into the second sink\n")
  sink()
  cat("into the first\n")
  sink()
  sink(type = "message")
  close(messages)
  # Code that pushes and pops its own sinks, and one that leaves a sink behind.
  f <- tempfile()
  with_output_file(f, {
    sink(sinks[3]); cat("into the code's sink\n"); sink()
    cat("into the file\n")
    sink(tempfile())
    cat("into the sink left behind, which the call takes off\n")
  })
  list(result = result, stack = stack, left_behind = sink.number(),
    sinks = lapply(sinks[1:3], readLines), messages = readLines(sinks[4]),
    file = readLines(f),
    around = capture.output(inner <- capture_stdout(cat("x\n"))), inner = inner,
    inside = capture_stdout(capture.output(cat("y\n"))),
    full = local({
      # R's sink stack full: the call fails before its code runs, and leaves no
      # connection, descriptor or stream behind.
      for (i in 1:19) sink(tempfile())
      before <- list(getAllConnections(), open_fds(), fd_id(1L))
      message <- tryCatch(capture_stdout(cat("ran\n")), error = conditionMessage)
      after <- list(getAllConnections(), open_fds(), fd_id(1L))
      for (i in 1:19) sink()
      list(message = message, same = identical(before, after))
    }))
}), calls = calls)
v <- got$value
expect_identical(v$result, taken, info = output_of(got))
expect_identical(v$stack, c(2L, 1L), info = output_of(got))
expect_identical(v$sinks, list("into the first", c(paste(left("o R"), ""),
  "after, into the second sink"), "into the code's sink"), info = output_of(got))
expect_identical(trimws(v$messages), left("e R"), info = output_of(got))
expect_identical(list(v$file, v$left_behind), list("into the file", 0L))
expect_identical(list(v$around, v$inner, v$inside), list(character(), "x",
  "[1] \"y\""))
expect_true(grepl("sink stack is full", v$full$message) && v$full$same,
  info = paste(v$full, collapse = " "))

## ---- knitr: a document shows what C code and child programs print, in place ----
# Each document is knitted in a child R; the lines of interest must come in this order
# in what knitr writes, and none of them reach the child's own output, which stands for
# the terminal that runs knit().
in_order <- c("R 1", "child 1", "C 1", "a", "b", "c", "before message", "the message",
  "after message", "before warning", "the warning", "after warning",
  "\"R captured\" +\"message captured\" +\"child captured\"", "before plot",
  "(plot of chunk|includegraphics)", "after plot", "before error", "the error")
# Whether every pattern matches a line of `lines`, each after the one before.
found_in_order <- function(patterns, lines) {
  at <- 0L
  for (pattern in patterns) {
    hits <- which(grepl(pattern, lines))
    hits <- hits[hits > at]
    if (length(hits) == 0L) return(pattern)
    at <- hits[1]
  }
  TRUE
}
knit_in_child <- function(document, setup = TRUE) {
  folder <- tempfile("knit-")
  dir.create(folder)
  source <- file.path(folder, basename(document))
  lines <- readLines(system.file("tinytest", "knit", document, package = "client"))
  if (!setup) lines <- sub("knit_descriptors()", "", lines, fixed = TRUE)
  writeLines(lines, source)
  got <- in_child(bquote({
    setwd(.(folder))
    out <- knitr::knit(.(basename(source)), quiet = TRUE)
    readLines(out)
  }))
  unlink(folder, recursive = TRUE)
  got
}
if (requireNamespace("knitr", quietly = TRUE)) {
  # An evaluate without calling handlers (before 0.15) records a condition before the
  # descriptor output of its expression: there only the rest keeps its order.
  if (!"calling_handlers" %in% names(formals(evaluate::new_output_handler))) {
    in_order <- setdiff(in_order, c("the message", "the warning", "the error"))
  }
  for (document in c("descriptors.Rmd", "descriptors.Rnw")) {
    got <- knit_in_child(document)
    info <- paste(document, output_of(got), paste(got$value, collapse = "\n"))
    expect_true(isTRUE(found_in_order(in_order, got$value)), info = info)
    expect_true(!any(grepl("^## not in the document", got$value)) &&
      "not in the document" %in% got$output, info = info)
    expect_false(any(c("child 1", "b", "after plot") %in% got$output), info = info)
  }
  # Without the call, knitting is as it always was: child programs print to the
  # terminal.
  got <- knit_in_child("descriptors.Rmd", setup = FALSE)
  expect_true(all(c("child 1", "b", "after plot") %in% got$output) &&
    !any(grepl("## child 1", got$value, fixed = TRUE)), info = output_of(got))
} else {
  skip_block("knitr documents: knitr is not installed")
}
