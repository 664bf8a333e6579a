# Every registered routine and every exported function under gctorture(TRUE), which
# collects garbage at every allocation and so finds any vector left unprotected: each
# row of `cases` is evaluated once as it is and once under torture, and must not crash
# and must give the same value or the same error. Rows cover each routine and function
# with arguments of each kind and every error path (an error raised while an allocated
# vector is protected). Inputs are small: torture makes every allocation cost a full
# collection. Prints "gctorture: N cases, N differ" and fails unless none differ.
# Run with the package on R_LIBS: R_LIBS=.lib Rscript --vanilla tools/robustness/gctorture.R
# To add a row: a name and a quoted expression that leaves descriptors 1 and 2 as it
# found them and gives the same result each time (use the paths below, not tempfile()).
library(client)
folder <- tempfile("gctorture-")
dir.create(folder)
path <- file.path(folder, "out")
data_file <- file.path(folder, "data")
text_file <- file.path(folder, "text")
back_file <- file.path(folder, "back")
link_file <- file.path(folder, "link")
writeBin(as.raw(0:255), data_file)
invisible(file.symlink("back", link_file))
routine <- function(name) get(name, envir = asNamespace("client"))
encode <- routine("tarnwick_base64_encode")
decode <- routine("tarnwick_base64_decode")

cases <- list(
  # The routines.
  encode_empty = quote(.Call(encode, raw(0))),
  encode_bytes = quote(.Call(encode, as.raw(0:255))),
  encode_large = quote(.Call(encode, as.raw(rep(1:250, 40)))),
  encode_wrong_type = quote(.Call(encode, "abc")),
  decode_text = quote(.Call(decode, charToRaw("YWJjZA=="))),
  decode_bad_byte = quote(.Call(decode, charToRaw("YW!jZA=="))),
  decode_short_length = quote(.Call(decode, charToRaw("YWJjZ"))),
  decode_early_pad = quote(.Call(decode, charToRaw("YQ==YWJj"))),
  decode_wrong_type = quote(.Call(decode, 1:4)),
  write = quote(with_stdout_file("/dev/null",
    .Call(routine("tarnwick_write"), 1L, as.raw(1:10)))),
  write_closed_fd = quote(.Call(routine("tarnwick_write"), 987L, raw(1))),
  write_empty_fd = quote(.Call(routine("tarnwick_write"), integer(), raw(1))),
  set_stdout_kept = quote({
    saved <- .Call(routine("tarnwick_set_stdout"), 1L, FALSE)
    .Call(routine("tarnwick_set_stdout"), saved, TRUE)
  }),
  set_stderr_closed = quote(.Call(routine("tarnwick_set_stderr"), 4321L, FALSE)),
  set_stderr_empty_flag = quote(.Call(routine("tarnwick_set_stderr"), 2L, logical())),
  stdout_to_file = quote({
    saved <- .Call(routine("tarnwick_set_stdout_to_file"), path)
    cat("to the file\n")
    .Call(routine("tarnwick_set_stdout"), saved, TRUE)
    readLines(path)
  }),
  stderr_to_missing_folder = quote(
    .Call(routine("tarnwick_set_stderr_to_file"), "/no/such/dir/f")),
  stdout_to_na = quote(.Call(routine("tarnwick_set_stdout_to_file"), NA_character_)),
  # The exported functions.
  set_stdout_file = quote({
    saved <- set_stdout_file(path)
    cat("by hand\n")
    set_stdout(saved)
    readLines(path)
  }),
  set_stderr_bad_drop = quote(set_stderr(2, drop = NA)),
  with_stderr_file = quote({
    with_stderr_file(path, message("scoped"))
    readLines(path)
  }),
  with_stdout_error = quote(with_stdout_file(path, stop("inside"))),
  with_stdout_fd_other = quote(with_stderr_file(path, with_stdout(2, 42))),
  with_stderr_bad_fd = quote(with_stderr(-1, 1)),
  capture_stdout = quote(capture_stdout({ cat("a\nb"); 1:3 })),
  capture_stderr_raw = quote(capture_stderr(fd_write(2, as.raw(0:3)), raw = TRUE)),
  capture_output = quote(capture_output({ cat("out\n"); message("err") })),
  capture_error = quote(with_stdout_file(path,
    tryCatch(capture_stdout({ cat("x\n"); stop("boom") }), error = conditionMessage))),
  capture_bad_raw = quote(capture_stdout(1, raw = "yes")),
  fd_write = quote(with_stdout_file("/dev/null", fd_write(1, "bytes"))),
  fd_write_bad = quote(fd_write(1.5, "bytes")),
  fd_connection = quote(with_stdout_file("/dev/null", {
    con <- fd_connection(1)
    writeLines(c("a", "b"), con)
    serialize(1:10, con)
    close(con)
  })),
  fd_connection_closed_fd = quote(fd_connection(987)),
  split = quote(with_output_file(path, NULL, split = TRUE)),
  split_capture = quote(capture_stdout(invisible(fd_write(1, "")), split = TRUE)),
  base64_encode = quote(base64_encode("hello")),
  base64_encode_options = quote(base64_encode(as.raw(0:200), url = TRUE, pad = FALSE,
    width = 16, eol = "\r\n", as = "string")),
  base64_encode_strings = quote(base64_encode(c("a", NA, "abc", ""), as = "string")),
  base64_encode_bad_width = quote(base64_encode("a", width = 3)),
  base64_decode = quote(base64_decode("aGVsbG8=")),
  base64_decode_malformed = quote(base64_decode("aGVs bG8=")),
  base64_decode_options = quote(base64_decode("aGVs\r\nbG8", url = TRUE, breaks = TRUE,
    as = "string")),
  base64_decode_strings = quote(base64_decode(c("YQ==", NA, "YWJj"), as = "string")),
  base64_decode_string_bad = quote(base64_decode(c("YQ==", "Y!=="), as = "string")),
  base64_decode_nul = quote(base64_decode(c("YQ==", "AA=="), as = "string")),
  base64_files = quote({
    base64_encode_file(data_file, text_file, width = 76)
    base64_decode_file(text_file, back_file, breaks = TRUE)
    identical(readBin(back_file, "raw", 1000), as.raw(0:255))
  }),
  base64_options_refused = quote(.Call(routine("tarnwick_base64_encode_options"),
    raw(3), NA, TRUE, 0L, "\n", "raw")),
  base64_decode_report = quote(.Call(routine("tarnwick_base64_decode_options"),
    charToRaw("YW\nJj"), FALSE, FALSE, "raw")),
  base64_decode_strings_report = quote(.Call(routine("tarnwick_base64_decode_options"),
    c("YQ==", NA, "Y!=="), TRUE, TRUE, "string")),
  base64_file_through_link = quote({
    base64_encode_file(data_file, link_file)
    Sys.readlink(link_file)
  }),
  base64_file_stream = quote(base64_encode_file(data_file, "/dev/null")),
  base64_file_missing_input = quote(base64_encode_file(file.path(folder, "none"),
    back_file)),
  base64_file_malformed = quote({
    writeLines("YWJj!", text_file)
    base64_decode_file(text_file, back_file)
  }),
  # Last: it marks this process's descriptors close-on-exec for good.
  disable_inheritance = quote(disable_inheritance()))

outcome <- function(expr) {
  tryCatch(list(value = eval(expr)), error = function(e) list(error = conditionMessage(e)))
}
started <- Sys.time()
differ <- character()
for (name in names(cases)) {
  plain <- outcome(cases[[name]])
  gctorture(TRUE)
  tortured <- outcome(cases[[name]])
  gctorture(FALSE)
  if (!identical(plain, tortured)) {
    differ <- c(differ, name)
    cat("differs:", name, "\n")
    str(list(plain = plain, tortured = tortured))
  }
}
unlink(folder, recursive = TRUE)
cat(sprintf("gctorture: %d cases, %d differ, %.0f s\n", length(cases), length(differ),
  as.numeric(Sys.time() - started, units = "secs")))
quit(status = if (length(differ) == 0) 0 else 1)
