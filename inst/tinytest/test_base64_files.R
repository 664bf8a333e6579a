# base64_encode_file() and base64_decode_file(): the same texts and refusals as the
# functions for vectors, the output's mode, and failures that leave the output as it
# was, with no new file behind.
source("helpers.R")
library(client)
folder <- tempfile("files-")
dir.create(folder)
input <- file.path(folder, "input")
text_file <- file.path(folder, "text")
back <- file.path(folder, "back")

## ---- every option, as the functions for vectors; across the routines' buffers ----
# The routines read 3 MiB to encode and 4 MiB to decode at a time: the largest inputs
# put a buffer's end inside a group, a line and a line end, and damage near it.
differ <- character()
sizes <- c(sample(0:150, 120, TRUE), 3 * 2^20 + 0:2, 3 * 2^20 - 57)
for (trial in seq_along(sizes)) {
  data <- as.raw(sample(0:255, sizes[trial], TRUE))
  writeBin(data, input)
  url <- sample(c(TRUE, FALSE), 1)
  options <- list(url = url, pad = !url || sample(c(TRUE, FALSE), 1),
    width = sample(c(0, 4, 76), 1), eol = sample(c("\n", "\r\n"), 1))
  written <- withVisible(do.call(base64_encode_file, c(list(input, text_file), options)))
  text <- readBin(text_file, "raw", 2^23)
  # A text file's last line ends with a line end; a text on one line has none.
  expected <- do.call(base64_encode, c(list(data), options))
  if (options$width > 0 && length(data) > 0) expected <- c(expected, charToRaw(options$eol))
  decoding <- list(url = url, breaks = options$width > 0)
  decoded <- do.call(base64_decode_file, c(list(text_file, back), decoding))
  round_trip <- identical(readBin(back, "raw", 2^23), data) && decoded == length(data)
  # A damaged byte, near a buffer's end when there is one: the same refusal.
  damaged <- text
  if (length(damaged) > 0) {
    at <- if (length(text) > 2^22) 2^22 + sample(-3:3, 1) else sample(length(text), 1)
    damaged[at] <- sample(charToRaw("!=A\n-+/_"), 1)
  }
  writeBin(damaged, text_file)
  refusal <- function(f, ...) tryCatch({ f(...); "accepted" }, error = conditionMessage)
  from_file <- sub("`input`", "`x`", do.call(refusal, c(list(base64_decode_file,
    text_file, back), decoding)))
  from_vector <- do.call(refusal, c(list(base64_decode, damaged), decoding))
  if (!identical(text, expected) || written$visible || written$value != length(text) ||
      !round_trip || from_file != from_vector) {
    differ <- c(differ, paste(trial, deparse1(options), from_file, from_vector))
  }
}
expect_identical(differ, character())

## ---- the output keeps the mode of the file it replaces; a new one the umask's ----
# A decoded key of mode 0600 once came back readable by every user.
old_umask <- Sys.umask("022")
writeBin(charToRaw("YWJj"), text_file)
modes <- character()
writeLines("a key", back)
Sys.chmod(back, "0600")
base64_decode_file(text_file, back)
modes["replaced 0600"] <- format(file.mode(back))
unlink(back)
base64_decode_file(text_file, back)
modes["new, umask 022"] <- format(file.mode(back))
unlink(back)
Sys.umask("077")
base64_encode_file(text_file, back)
modes["new, umask 077"] <- format(file.mode(back))
Sys.umask(old_umask)
expect_identical(modes, c(`replaced 0600` = "600", `new, umask 022` = "644",
  `new, umask 077` = "600"))

## ---- a failure leaves the output as it was, no new file and no descriptor ----
# Each case in a child R: `prepare` runs first, then `call`, whose error (or
# interrupt) is caught.
failure_in_child <- function(call, prepare = NULL) {
  got <- in_child(bquote({
    .(prepare)
    before <- open_fds()
    message <- tryCatch({ .(call); "no error" }, error = conditionMessage,
      interrupt = function(e) "interrupted")
    list(message = message, kept = identical(readLines(.(back)), "the old output"),
      files = sort(dir(.(folder), all.files = TRUE, no.. = TRUE)),
      same_fds = identical(before, open_fds()))
  }))
  if (!is.null(got$value)) return(got$value)
  list(message = paste(c("child failed:", got$output), collapse = "\n"), kept = FALSE,
    files = character(), same_fds = FALSE)
}
located <- function(text, error, routine) {
  paste0("^", as_regex(text), " ", as_regex(system_error(error)), " @base64_files:",
    "[0-9]+ \\(", routine, "\\)$")
}
quoted <- function(path) encodeString(path, quote = "\"")
writeBin(as.raw(1:10), input)
writeLines("the old output", back)
writeBin(charToRaw("AAAA!AAA"), text_file)
no_folder <- file.path(folder, "none", "out")
unreadable <- file.path(folder, "unreadable")
file.create(unreadable)
Sys.chmod(unreadable, "0200")
failures <- list(
  list(call = bquote(base64_decode_file(.(text_file), .(back))),
    expect = paste("^`input` is not base64 text: byte 5 \\(0x21\\) is outside")),
  list(call = bquote(base64_decode_file(.(file.path(folder, "none")), .(back))),
    expect = located(paste("Cannot read `input` file", quoted(file.path(folder,
      "none"))), "ENOENT", "tarnwick_base64_decode_file")),
  list(call = bquote(base64_encode_file(.(folder), .(back))),
    expect = located(paste("Cannot read `input` file", quoted(folder)), "EISDIR",
      "tarnwick_base64_encode_file")),
  list(call = bquote(base64_encode_file(.(input), .(no_folder))),
    expect = located(paste("Cannot write `output` file", quoted(no_folder)), "ENOENT",
      "tarnwick_base64_encode_file")),
  list(call = bquote(base64_encode_file(.(input), .(back), width = 3)),
    expect = "^`width` must be 0 or a positive multiple of 4, not 3$"))
# Root reads any file unless it gives up its capabilities, which only Linux has.
if (Sys.info()[["sysname"]] == "Linux" || Sys.info()[["effective_user"]] != "root") {
  failures[[length(failures) + 1L]] <- list(
    prepare = quote(invisible(th("th_drop_capabilities"))),
    call = bquote(base64_decode_file(.(unreadable), .(back))),
    expect = located(paste("Cannot read `input` file", quoted(unreadable)), "EACCES",
      "tarnwick_base64_decode_file"))
} else {
  skip_block("an unreadable input: root reads it, and has no capabilities to drop")
}
for (case in failures) {
  got <- failure_in_child(case$call, case$prepare)
  info <- paste(deparse1(case$call), got$message)
  expect_true(grepl(case$expect, got$message), info = info)
  expect_true(got$kept && got$same_fds, info = info)
  expect_identical(got$files, c("back", "input", "text", "unreadable"), info = info)
}

## ---- a full disk: the write that fails is named by its offset ----
# The child may not write files past 2 MiB.
writeBin(as.raw(sample(0:255, 3e6, TRUE)), input)
got <- failure_in_child(bquote(base64_encode_file(.(input), .(back))),
  quote(stopifnot(th("th_limit_file_size", 2097152) == 0L)))
expect_true(grepl(located(paste("Cannot write `output` file", quoted(back),
  "at byte 2097153"), "EFBIG", "tarnwick_base64_encode_file"), got$message),
  info = got$message)
expect_true(got$kept && got$same_fds, info = got$message)
expect_identical(got$files, c("back", "input", "text", "unreadable"))

## ---- an interrupt mid-file ends the call within a buffer ----
# Another process sends SIGINT once the new file exists, so the routine is reading and
# writing.
big <- file.path(folder, "big")
system(sprintf("head -c 100000000 /dev/zero | tr '\\000' A > %s", shQuote(big)))
for (routine in c("base64_encode_file", "base64_decode_file")) {
  killer <- bquote(system(sprintf(paste("sh -c 'until ls %s/.back-* >/dev/null 2>&1;",
    "do sleep 0.001; done; kill -INT %d' &"), .(folder), Sys.getpid())))
  got <- failure_in_child(bquote(.(as.name(routine))(.(big), .(back))), killer)
  expect_identical(got$message, "interrupted", info = routine)
  expect_true(got$kept && got$same_fds, info = routine)
  expect_identical(got$files, c("back", "big", "input", "text", "unreadable"),
    info = routine)
}
unlink(folder, recursive = TRUE)

## ---- a file of 300 MB, with memory far below its size ----
if (long_tests()) {
  got <- in_child(quote({
    folder <- tempfile()
    dir.create(folder)
    paths <- file.path(folder, c("in", "text", "back"))
    system(sprintf("head -c 300000000 /dev/urandom > %s", paths[1]))
    invisible(gc(reset = TRUE))
    base64_encode_file(paths[1], paths[2], width = 76)
    base64_decode_file(paths[2], paths[3], breaks = TRUE)
    peak_mb <- gc()[2, 6]
    same <- unname(tools::md5sum(paths[1]) == tools::md5sum(paths[3]))
    unlink(folder, recursive = TRUE)
    list(same = same, peak_mb = peak_mb)
  }))
  expect_true(isTRUE(got$value$same), info = paste(got$output, collapse = "\n"))
  expect_true(isTRUE(got$value$peak_mb < 96), info = toString(got$value))
} else {
  skip_block(long_test_skipped("a file of 300 MB"))
}
