# What the library is for, shown as a user would watch it. Run with demo("reroute",
# package = "client") or `make demo`. Every stream it touches is put back.
call <- function(routine, ...) .Call(getFromNamespace(routine, "client"), ...)
say <- function(...) cat(sprintf(...), "\n", sep = "")

say("== 1. Standard output rerouted to a file, then put back")
log_file <- tempfile("client-demo-", fileext = ".log")
saved <- call("tarnwick_set_stdout_to_file", log_file)
cat("a line printed by R\n")
system("echo 'a line printed by a child program'")
invisible(call("tarnwick_write", 1L, charToRaw("a line written to descriptor 1 from C\n")))
invisible(call("tarnwick_set_stdout", saved, TRUE))  # restores stdout and closes the saved copy
say("standard output is back; the file %s holds:", basename(log_file))
writeLines(paste("  |", readLines(log_file)))

say("\n== 2. One write of a raw vector to a descriptor")
n <- call("tarnwick_write", 1L, charToRaw("  these bytes went out in one write(2)\n"))
say("  write returned %d", n)

say("\n== 3. A base64 round trip")
bytes <- as.raw(c(0x00, 0xff, 0x10, 0x80, charToRaw("client")))
text <- call("tarnwick_base64_encode", bytes)
say("  bytes:   %s", paste(format(bytes), collapse = " "))
say("  encoded: %s", rawToChar(text))
say("  decoded: %s (identical: %s)", paste(format(call("tarnwick_base64_decode", text)),
  collapse = " "), identical(call("tarnwick_base64_decode", text), bytes))

say("\n== 4. Close-on-exec before a child program starts")
# A descriptor opened by R is visible to child programs until it is marked.
con <- file(log_file, "r")
links <- Sys.readlink(file.path("/proc/self/fd", dir("/proc/self/fd")))
fd <- as.integer(dir("/proc/self/fd")[links == normalizePath(log_file)][1])
child_sees <- function() {
  system(sprintf("test -e /proc/self/fd/%d && echo yes || echo no", fd), intern = TRUE)
}
say("  descriptor %d open in R; a child program inherits it: %s", fd, child_sees())
invisible(call("tarnwick_disable_inheritance"))
say("  after the sweep, a child program inherits it: %s", child_sees())
close(con)
unlink(log_file)
