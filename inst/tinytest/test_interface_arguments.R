# The exported functions refuse bad arguments before any routine runs, with a message
# that names the argument. Stream functions are tried in a child R process.
source("helpers.R")

# Each row: a bad value and how the message describes it.
bad_fds <- list(
  list(-1, "-1"), list(1.5, "1.5"), list(NA, "NA"), list(NA_integer_, "NA"),
  list(NaN, "NaN"), list(Inf, "Inf"), list(2^31, "2147483648"), list(1e10, "1e+10"),
  list("1", "the string \"1\""), list(TRUE, "TRUE"), list(3+0i, "a complex vector"),
  list(1:2, "an integer vector of length 2"), list(integer(), "an integer vector of length 0"),
  list(NULL, "NULL"), list(factor(1), "an object of class \"factor\" of length 1"),
  list(list(1L), "a list of length 1"), list(sum, "a function"))
bad_drops <- list(
  list(NA, "NA"), list("yes", "the string \"yes\""), list(1, "1"), list(NULL, "NULL"),
  list(c(TRUE, FALSE), "a logical vector of length 2"),
  list(logical(), "a logical vector of length 0"))
bad_paths <- list(
  list(NA_character_, "NA"), list("", "the string \"\""), list(1, "1"),
  list(character(), "a character vector of length 0"),
  list(c("a", "b"), "a character vector of length 2"), list(NULL, "NULL"),
  list(factor("a"), "an object of class \"factor\" of length 1"))
bad_bytes <- list(
  list(NA_character_, "NA"), list(c("a", "b"), "a character vector of length 2"),
  list(character(), "a character vector of length 0"), list(1:3, "an integer vector of length 3"),
  list(NULL, "NULL"), list(list(as.raw(1)), "a list of length 1"), list(65L, "65"))

# One case per bad value and function: the call (other arguments valid, and `code`
# stopping if it is ever run) and the message it must raise.
cases_for <- function(bad, functions, arg, what, make_call) {
  unlist(lapply(functions, function(fun) lapply(bad, function(row) list(
    call = make_call(fun, row[[1]]),
    message = sprintf("`%s` must be %s, not %s", arg, what, row[[2]])))),
    recursive = FALSE)
}
never <- quote(stop("code ran"))
check_cases <- function(cases, messages) {
  expected <- vapply(cases, `[[`, "", "message")
  wrong <- which(messages != expected)
  expect_equal(length(wrong), 0L, info = paste(sprintf("%s gave: %s",
    vapply(cases[wrong], function(case) deparse1(case$call), ""), messages[wrong]),
    collapse = "\n"))
}

## ---- streams: fd, drop and path, refused in a child that stays intact ----
fd_what <- "a single non-negative whole number"
stream_cases <- c(
  cases_for(bad_fds, c("set_stdout", "set_stderr"), "fd", fd_what,
    function(fun, value) call(fun, value)),
  cases_for(bad_fds, c("with_stdout", "with_stderr"), "fd", fd_what,
    function(fun, value) call(fun, value, never)),
  cases_for(bad_drops, c("set_stdout", "set_stderr"), "drop", "TRUE or FALSE",
    function(fun, value) call(fun, 7, value)),
  cases_for(bad_paths, c("set_stdout_file", "set_stderr_file"), "path",
    "a single non-empty string", function(fun, value) call(fun, value)),
  cases_for(bad_paths, c("with_stdout_file", "with_stderr_file"), "path",
    "a single non-empty string", function(fun, value) call(fun, value, never)))
result <- errors_in_child(lapply(stream_cases, `[[`, "call"))
check_cases(stream_cases, result$messages)
expect_true(result$same_fds)

## ---- fd_write, base64_encode and base64_decode ----
byte_cases <- c(
  cases_for(bad_fds, "fd_write", "fd", fd_what, function(fun, value) call(fun, value, "x")),
  cases_for(bad_bytes, "fd_write", "data", "a raw vector or a single string",
    function(fun, value) call(fun, 1, value)),
  cases_for(bad_bytes, "base64_encode", "x", "a raw vector or a single string",
    function(fun, value) call(fun, value)),
  cases_for(bad_bytes, "base64_decode", "x", "base64 text: a single string or a raw vector",
    function(fun, value) call(fun, value)))
messages <- vapply(byte_cases, function(case) tryCatch({
  eval(case$call, asNamespace("client")); "no error" }, error = conditionMessage), "")
check_cases(byte_cases, messages)

## ---- the options of the base64 functions ----
bad_widths <- list(list(3, "3"), list(-4, "-4"), list(NA, "NA"), list(4.5, "4.5"),
  list("76", "the string \"76\""), list(c(4, 8), "a double vector of length 2"))
bad_eols <- list(list("\r", "the string \"\\r\""), list(NA, "NA"),
  list(c("\n", "\n"), "a character vector of length 2"), list(10, "10"))
bad_choices <- list(list("text", "the string \"text\""), list(NA, "NA"),
  list(c("raw", "raw"), "a character vector of length 2"), list(1, "1"))
options_of <- function(fun, arg, value) {
  call <- as.call(c(list(as.name(fun), raw(3)), setNames(list(value), arg)))
  if (grepl("_file$", fun)) call[[2]] <- "in"
  if (grepl("_file$", fun)) call$output <- "out"
  call
}
option_cases <- c(
  cases_for(bad_drops, c("base64_encode", "base64_decode", "base64_encode_file",
    "base64_decode_file"), "url", "TRUE or FALSE",
    function(fun, value) options_of(fun, "url", value)),
  cases_for(bad_drops, c("base64_encode", "base64_encode_file"), "pad", "TRUE or FALSE",
    function(fun, value) options_of(fun, "pad", value)),
  cases_for(bad_drops, c("base64_decode", "base64_decode_file"), "breaks",
    "TRUE or FALSE", function(fun, value) options_of(fun, "breaks", value)),
  cases_for(bad_widths, c("base64_encode", "base64_encode_file"), "width",
    "0 or a positive multiple of 4", function(fun, value) options_of(fun, "width", value)),
  cases_for(bad_eols, c("base64_encode", "base64_encode_file"), "eol",
    "\"\\n\" or \"\\r\\n\"", function(fun, value) options_of(fun, "eol", value)),
  cases_for(bad_choices, c("base64_encode", "base64_decode"), "as",
    "\"raw\" or \"string\"", function(fun, value) options_of(fun, "as", value)),
  cases_for(bad_paths, c("base64_encode_file", "base64_decode_file"), "input",
    "a single non-empty string", function(fun, value) call(fun, value, "out")),
  cases_for(bad_paths, c("base64_encode_file", "base64_decode_file"), "output",
    "a single non-empty string", function(fun, value) call(fun, "in", value)),
  cases_for(list(list(1:3, "an integer vector of length 3"), list(NULL, "NULL")),
    c("base64_encode", "base64_decode"), "x", "a raw vector or a character vector",
    function(fun, value) call(fun, value, as = "string")))
messages <- vapply(option_cases, function(case) tryCatch({
  eval(case$call, asNamespace("client")); "no error" }, error = conditionMessage), "")
check_cases(option_cases, messages)

## ---- the error names the call the user made ----
err <- tryCatch(client::fd_write(-1, "x"), error = identity)
expect_equal(deparse(conditionCall(err)), "client::fd_write(-1, \"x\")")
err <- tryCatch(client::base64_decode("YQ!="), error = identity)
expect_equal(deparse(conditionCall(err)), "client::base64_decode(\"YQ!=\")")
