# The located error texts, raised through the exported raisers and by the routines.
source("helpers.R")
library(client)
load_helper()
so <- client_so()
dyn.load(so)  # the raisers are exported by client.so, which processes load by hand
message_of <- function(expr) tryCatch({ expr; NA_character_ }, error = conditionMessage)

## ---- r_throw_error: message, then location ----
expect_equal(message_of(th("th_throw_error", so, "plain text", "")),
  "plain text @testhelper:42 (th_throw_error)")
expect_equal(message_of(th("th_throw_error", so, "value <%s>", "x y")),
  "value <x y> @testhelper:42 (th_throw_error)")
# Each raise shows only its own message: the buffer is rewritten, not appended to.
message_of(th("th_throw_error", so, "a much longer first message %s", "here"))
expect_equal(message_of(th("th_throw_error", so, "short", "")),
  "short @testhelper:42 (th_throw_error)")

## ---- r_throw_system_error: strerror or the given description ----
enoent <- th("th_constants")[["ENOENT"]]
expect_equal(message_of(th("th_throw_system_error", so, enoent, NA_character_, "open %s",
  "f")), paste("open f", system_error("ENOENT"), "@testhelper:7 (th_throw_system_error)"))
expect_equal(message_of(th("th_throw_system_error", so, 5L, "my words", "m", "")),
  "m (system error 5, my words) @testhelper:7 (th_throw_system_error)")

## ---- a message over 4095 bytes is cut there ----
long <- strrep("x", 5000)
old <- options(warning.length = 8170)  # R otherwise cuts a message at 1000 bytes
expect_equal(message_of(th("th_throw_error", so, "%s", long)),
  paste0(strrep("x", 4095), " @testhelper:42 (th_throw_error)"))
options(old)

## ---- a message too long for R's error text keeps its system error and location ----
# R cuts an error text at warning.length - 1 bytes; the message is shortened instead,
# without splitting a character. Before, the system error and location were lost.
for (limit in c(1000L, 200L)) {
  old <- options(warning.length = limit)
  text <- message_of(th("th_throw_system_error", so, enoent, NA_character_, "%s",
    strrep("\u00e9", 3000)))
  options(old)
  expect_true(nchar(text, "bytes") <= limit - 1L && validUTF8(text), info = text)
  expect_true(grepl(paste0("^[^ ]+\\.\\.\\. ", as_regex(system_error("ENOENT")),
    " @testhelper:7 \\(th_throw_system_error\\)$"), text, useBytes = TRUE),
    info = text)
}
old <- options(warning.length = 200L)
expect_true(grepl("^x+\\.\\.\\. @testhelper:42 \\(th_throw_error\\)$",
  message_of(th("th_throw_error", so, "%s", long))))
options(old)

## ---- a routine's error: the write to a closed descriptor ----
err <- message_of(.Call(client:::tarnwick_write, 987L, as.raw(1:3)))
expect_true(startsWith(err, paste("Cannot write to fd", system_error("EBADF"),
  "@client:")))
expect_true(grepl(" @client:[0-9]+ \\(tarnwick_write\\)$", err), info = err)
expect_inherits(tryCatch(.Call(client:::tarnwick_write, 987L, raw(1)), error = identity),
  "simpleError")

## ---- errors by class: each kind with its fields, and client_error for all ----
# Stream functions run in a child R; what a call raised comes back as its classes and
# its fields other than the message and the call.
bad_text <- tempfile()
writeBin(charToRaw("AAAA\nAA!A"), bad_text)
got <- in_child(bquote({
  raised <- function(expr) {
    e <- tryCatch({ expr; NULL }, error = identity)
    fields <- unclass(e)[setdiff(names(e), c("message", "call"))]
    c(list(class = head(class(e), -2L)), fields)
  }
  out <- tempfile()
  list(
    raised(fd_write(-1, "x")),
    raised(base64_decode("YW!j")),
    raised(base64_decode("YWJjY")),
    raised(base64_decode_file(.(bad_text), out)),
    raised(base64_decode_file(.(bad_text), out, breaks = TRUE)),
    raised(set_stdout(4321)),
    raised(with_output_file("/no/such/dir/f", 1, append = TRUE)),
    raised(base64_encode_file("/no/such/in", out)),
    raised(base64_decode("AA==", as = "string")))
}))
enoent <- th("th_constants")[["ENOENT"]]
expect_identical(got$value, list(
  list(class = c("client_bad_argument", "client_error"), argument = "fd"),
  list(class = c("client_malformed_base64", "client_error"), offset = 3, byte = 33L),
  list(class = c("client_malformed_base64", "client_error"), offset = NA_real_,
    byte = NA_integer_),
  list(class = c("client_malformed_base64", "client_error"), offset = 5, byte = 10L),
  list(class = c("client_malformed_base64", "client_error"), offset = 8, byte = 33L),
  list(class = c("client_system_error", "client_error"),
    errno = th("th_constants")[["EBADF"]], fd = 4321L, path = NULL),
  list(class = c("client_system_error", "client_error"), errno = enoent, fd = NULL,
    path = "/no/such/dir/f"),
  list(class = c("client_system_error", "client_error"), errno = enoent, fd = NULL,
    path = "/no/such/in"),
  list(class = "client_error")), info = paste(got$output, collapse = "\n"))
unlink(bad_text)

## ---- system errors carry their errno as data, whatever their message says ----
# The errno was once read back from the message: a folder named like the piece of a
# system error gave its number, 1, for a missing folder, 2. A message longer than the
# buffer was cut inside a character, and its error lost its class. Each call runs in
# one child R, some after giving up root's capabilities.
long_path <- file.path(tempdir(), strrep("\u00e9", 2100), "f")
cases <- list(
  list(call = bquote(with_stdout_file(file.path(tempdir(), "(system error 1, x)", "no",
    "f"), 1)), errno = "ENOENT"),
  list(call = bquote(with_stdout_file(.(long_path), 1)), errno = "ENAMETOOLONG"),
  list(call = quote(with_stdout_file(tempdir(), 1)), errno = "EISDIR"),
  list(call = quote(with_stderr(4321, 1)), errno = "EBADF"),
  list(call = quote(set_stdout(4321, drop = FALSE)), errno = "EBADF"),
  list(call = quote(base64_encode_file(tempdir(), tempfile())), errno = "EISDIR"),
  list(call = quote(fd_connection(4321)), errno = "EBADF"))
if (Sys.info()[["sysname"]] == "Linux" || Sys.info()[["effective_user"]] != "root") {
  cases[[length(cases) + 1L]] <- list(call = quote({
    locked <- file.path(tempdir(), "locked")
    dir.create(locked, mode = "0555")
    invisible(th("th_drop_capabilities"))
    with_output_file(file.path(locked, "f"), 1)
  }), errno = "EACCES")
} else {
  skip_block("EACCES: root writes anywhere, and has no capabilities to drop")
}
got <- in_child(quote(lapply(cases, function(case) {
  e <- tryCatch({ eval(case$call); NULL }, error = identity)
  list(class = class(e)[1], errno = e$errno, message = conditionMessage(e))
})), cases = cases)
constants <- th("th_constants")
for (k in seq_along(cases)) {
  v <- got$value[[k]]
  info <- paste(deparse1(cases[[k]]$call), v$message, output_of(got))
  expect_identical(v[c("class", "errno")], list(class = "client_system_error",
    errno = constants[[cases[[k]]$errno]]), info = info)
  expect_true(validUTF8(v$message) && nchar(v$message, "bytes") < 1000L &&
    grepl(system_error(cases[[k]]$errno), v$message, fixed = TRUE), info = info)
}
