# Arguments the routines cannot read: refused with an R error, never read past.
msg <- function(expr) tryCatch({ expr; "no error" }, error = conditionMessage)
r <- function(name) getFromNamespace(name, "client")
expect_message_matches <- function(message, pattern) {
  expect_true(grepl(pattern, message), info = message)
}

## ---- empty vectors have no element 0 ----
expect_message_matches(msg(.Call(r("tarnwick_write"), integer(), raw(1))),
  "^Invalid fd: zero-length integer vector @client:[0-9]+ \\(tarnwick_write\\)$")
expect_message_matches(msg(.Call(r("tarnwick_set_stdout"), integer(), TRUE)),
  "^Invalid fd: zero-length integer vector @client:[0-9]+ \\(tarnwick_set_stdout\\)$")
expect_message_matches(msg(.Call(r("tarnwick_set_stderr"), 1L, logical())),
  "^Invalid drop flag: zero-length logical vector @client:[0-9]+ \\(tarnwick_set_stderr\\)$")
expect_message_matches(msg(.Call(r("tarnwick_set_stdout_to_file"), character())),
  "^Invalid path: zero-length character vector @client:[0-9]+ \\(tarnwick_set_stdout_to_file\\)$")

## ---- an NA path is not a file named "NA" ----
old <- setwd(tempdir())
expect_message_matches(msg(.Call(r("tarnwick_set_stderr_to_file"), NA_character_)),
  "^Invalid path: NA @client:[0-9]+ \\(tarnwick_set_stderr_to_file\\)$")
expect_false(file.exists("NA"))
setwd(old)

## ---- wrong types are refused by R's accessors before anything happens ----
wrong <- list(
  list("tarnwick_write", list(1.5, raw(1))),
  list("tarnwick_write", list(1L, "text")),
  list("tarnwick_set_stdout", list("1", TRUE)),
  list("tarnwick_set_stdout", list(NULL, TRUE)),
  list("tarnwick_set_stderr", list(2L, "yes")),
  list("tarnwick_set_stdout_to_file", list(1L)),
  list("tarnwick_set_stderr_to_file", list(list("f"))),
  list("tarnwick_base64_encode", list("abc")),
  list("tarnwick_base64_decode", list(1:4)),
  list("tarnwick_base64_encode", list(NULL)))
for (case in wrong) {
  m <- msg(do.call(.Call, c(list(r(case[[1]])), case[[2]])))
  expect_true(m != "no error", info = paste(case[[1]], deparse(case[[2]])))
}
