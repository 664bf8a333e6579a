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

## ---- outputs of every kind: links followed, streams written as they are ----
# Each function writes through links to their final target and into a FIFO as it is;
# it once replaced both with a regular file. `write` writes the known output to a
# path; each case checks its effect from `check` and that no new file stays behind.
kinds <- in_child(quote({
  folder <- tempfile("outputs-")
  dir.create(folder)
  setwd(folder)
  writeBin(charToRaw("hello"), "bytes")
  writeBin(charToRaw("aGVsbG8="), "text")
  is_link_to <- function(link, to) identical(Sys.readlink(link), to)
  content <- function(path) rawToChar(readBin(path, "raw", 100))
  outcome <- function(write, expected) {
    cases <- list(
      relative = quote({
        file.symlink("t1", "l1"); write("l1")
        is_link_to("l1", "t1") && content("t1") == expected
      }),
      absolute = quote({
        file.symlink(file.path(folder, "t2"), "l2"); write("l2")
        is_link_to("l2", file.path(folder, "t2")) && content("t2") == expected
      }),
      chain = quote({
        writeLines("old", "t3"); file.symlink("t3", "l3"); file.symlink("l3", "l3b")
        write("l3b")
        is_link_to("l3b", "l3") && is_link_to("l3", "t3") && content("t3") == expected
      }),
      dangling = quote({
        file.symlink("t4", "l4"); write("l4")
        is_link_to("l4", "t4") && content("t4") == expected
      }),
      loop = quote({
        file.symlink("l5", "l5b"); file.symlink("l5b", "l5")
        message <- tryCatch({ write("l5"); "no error" }, error = conditionMessage)
        is_link_to("l5", "l5b") && startsWith(message,
          paste("Cannot write `output` file \"l5\"", loop_error))
      }),
      fifo = quote({
        system("mkfifo f6; cat f6 > got6 &")
        write("f6")
        for (i in 1:3000) if (file.exists("got6") && file.size("got6") > 0) break else
          Sys.sleep(0.01)
        Sys.sleep(0.05)
        system2("test", c("-p", "f6")) == 0L && content("got6") == expected
      }))
    vapply(cases, function(case) {
      ok <- tryCatch(eval(case), error = function(e) FALSE)
      ok && !any(grepl("-......$", dir(all.files = TRUE)))
    }, logical(1))
  }
  list(
    encode = outcome(function(path) base64_encode_file("bytes", path), "aGVsbG8="),
    decode = outcome(function(path) base64_decode_file("text", path), "hello"))
}), loop_error = system_error("ELOOP"))
for (fn in c("encode", "decode")) {
  expect_true(all(kinds$value[[fn]]), info = paste(fn, paste(names(which(
    !kinds$value[[fn]])), collapse = " "), paste(kinds$output, collapse = "\n")))
}

## ---- output named as the input: converted in place, directly or through a link ----
got <- in_child(quote({
  setwd(tempdir())
  writeBin(charToRaw("hello"), "f")
  base64_encode_file("f", "f")
  direct <- readLines("f")
  file.symlink("f", "link")
  base64_decode_file("link", "f")
  back <- rawToChar(readBin("f", "raw", 100))
  base64_encode_file("f", "link")
  list(direct = direct, back = back, through_link = readLines("f"),
    still_link = Sys.readlink("link"))
}))
expect_identical(got$value, list(direct = "aGVsbG8=", back = "hello",
  through_link = "aGVsbG8=", still_link = "f"))

## ---- descriptors as outputs, and /dev/stdin as input, read whole by the parent ----
# A child writes 100 KB of text to its own descriptor 1, a pipe that the parent reads:
# by its name in /dev/fd, and through a link to it, as /dev/stdout is one.
if (dir.exists("/dev/fd") && file.exists("/dev/fd/1")) {
  lines <- sprintf("line %d of a text", 1:5000)
  text <- base64_encode(paste0(paste(lines, collapse = "\n"), "\n"), width = 76,
    as = "string")
  got <- in_child(quote({
    writeLines(text, file.path(tempdir(), "in.b64"))
    file.symlink("/dev/fd/1", file.path(tempdir(), "stdout"))
    base64_decode_file(file.path(tempdir(), "in.b64"), "/dev/fd/1", breaks = TRUE)
    base64_decode_file(file.path(tempdir(), "in.b64"), file.path(tempdir(), "stdout"),
      breaks = TRUE)
    Sys.readlink(file.path(tempdir(), "stdout"))
  }), text = text)
  expect_identical(got$output, c(lines, lines))
  expect_identical(got$value, "/dev/fd/1")
  # The shell's pipe into /dev/stdin, and out of a link to /dev/fd/1.
  link <- tempfile()
  file.symlink("/dev/fd/1", link)
  script <- sprintf("client::base64_encode_file('/dev/stdin', '%s')", link)
  out <- system(sprintf("printf hello | R_LIBS=%s %s --vanilla -e %s", shQuote(paste(
    .libPaths(), collapse = ":")), file.path(R.home("bin"), "Rscript"),
    shQuote(script)), intern = TRUE)
  expect_identical(out, "aGVsbG8=")
  expect_identical(Sys.readlink(link), "/dev/fd/1")
  unlink(link)
} else {
  skip_block("/dev/fd: this system has none, or /proc is not mounted")
}

## ---- a link whose target's folder is read-only: refused, nothing changed ----
# Root writes anywhere unless it gives up its capabilities, which only Linux has.
if (Sys.info()[["sysname"]] == "Linux" || Sys.info()[["effective_user"]] != "root") {
  got <- in_child(quote({
    setwd(tempdir())
    dir.create("locked")
    writeLines("old", "locked/target")
    Sys.chmod("locked", "0555")
    file.symlink("locked/target", "link")
    writeBin(charToRaw("hello"), "bytes")
    invisible(th("th_drop_capabilities"))
    message <- tryCatch({ base64_encode_file("bytes", "link"); "no error" },
      error = conditionMessage)
    list(message = message, old = readLines("locked/target"), link = Sys.readlink("link"),
      files = dir("locked", all.files = TRUE, no.. = TRUE))
  }))
  expect_identical(got$value[c("old", "link", "files")], list(old = "old",
    link = "locked/target", files = "target"))
  expect_true(grepl(located("Cannot write `output` file \"link\"", "EACCES",
    "tarnwick_base64_encode_file"), got$value$message), info = got$value$message)
} else {
  skip_block("a read-only folder: root writes there, and has no capabilities to drop")
}

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
