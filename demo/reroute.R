# What the library is for, shown as a user would watch it. Run with demo("reroute",
# package = "client") or `make demo`. Every stream it touches is put back.
library(client)
say <- function(...) cat(sprintf(...), "\n", sep = "")

say("== 1. Standard output rerouted to a file while some code runs")
log_file <- tempfile("client-demo-", fileext = ".log")
value <- with_stdout_file(log_file, {
  cat("a line printed by R\n")
  system("echo 'a line printed by a child program'")  # sink() cannot catch this one
  fd_write(1, "a line written to descriptor 1 directly\n")
  "the value of the code"
})
say("standard output is back; with_stdout_file() returned \"%s\"; %s holds:", value,
  basename(log_file))
writeLines(paste("  |", readLines(log_file)))

say("\n== 2. Output caught as text: capture_stdout() and capture_output()")
lines <- capture_stdout({
  cat("printed by R\n")
  system("echo printed by a child program")        # capture.output() misses this
  fd_write(1, "written by C code to descriptor 1\n")  # and this
})
say("  capture_stdout() returned %d lines:", length(lines))
writeLines(paste("  |", lines))
both <- capture_output({
  cat("standard output\n")
  system("echo standard error from a child program 1>&2")
  message("a message")
})
say("  capture_output() kept the order of both streams:")
writeLines(paste("  |", both))
say("  a failing call shows its output, then the error:")
try(capture_stdout({
  cat("  printed before the error\n")
  stop("something went wrong")
}))

say("\n== 3. The stream comes back when the code fails")
result <- tryCatch(with_stderr_file(log_file, {
  system("echo 'a child program complains' 1>&2")
  stop("something went wrong")
}), error = conditionMessage)
say("  caught: %s; the file holds:", result)
writeLines(paste("  |", readLines(log_file)))
message("  standard error works again")

say("\n== 4. By hand: switch, and put the saved stream back")
saved <- set_stdout_file(log_file)
cat("rerouted by hand\n")
set_stdout(saved)  # restores stdout and closes the saved copy
say("  the file holds: %s", readLines(log_file))

say("\n== 5. One write of bytes to a descriptor")
n <- fd_write(1, "  these bytes went out in one write(2)\n")
say("  fd_write returned %d", n)

say("\n== 6. A base64 round trip")
bytes <- as.raw(c(0x00, 0xff, 0x10, 0x80, charToRaw("client")))
text <- base64_encode(bytes)
say("  bytes:   %s", paste(format(bytes), collapse = " "))
say("  encoded: %s", rawToChar(text))
say("  decoded: %s (identical: %s)", paste(format(base64_decode(text)), collapse = " "),
  identical(base64_decode(text), bytes))
say("  malformed text is refused: %s",
  tryCatch(base64_decode("AP8 QA=="), error = conditionMessage))

say("\n== 7. A job's log: both streams, appended; and silence")
unlink(log_file)
for (run in 1:2) {
  with_output_file(log_file, append = TRUE, {
    system(sprintf("echo run %d starts", run))
    system("ls /no/such/folder")  # complains on standard error, in its place
  })
}
writeLines(paste("  |", readLines(log_file)))
quiet <- suppress_output({
  system("echo nobody sees this; echo nor this 1>&2")
  "the value"
})
say("  suppress_output() printed nothing and returned \"%s\"", quiet)

say("\n== 8. Close-on-exec before a child program starts, in a child R")
# The sweep marks descriptors 0 to 2 too and lasts for the session, so a child R shows
# it: a descriptor opened by R is visible to child programs until it is marked. A shell
# tells which descriptors above 2 it inherited: a redirection from one that is not
# open fails.
child <- c(
  "child_sees <- function() {",
  "  probe <- \"for fd in $(seq 3 255); do (: <&$fd) 2>/dev/null && printf '%s ' $fd; done; echo\"",
  "  held <- trimws(paste(system(probe, intern = TRUE), collapse = ' '))",
  "  if (nzchar(held)) held else 'none'",
  "}",
  sprintf("con <- file(%s, 'r')", deparse(log_file)),
  "cat('  with a file open in the child R, a program it starts inherits:', child_sees(), '\\n')",
  "client::disable_inheritance()",
  "cat('  after disable_inheritance():', child_sees(), '\\n')")
script <- tempfile(fileext = ".R")
writeLines(child, script)
system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", shQuote(script)))
unlink(c(script, log_file))
