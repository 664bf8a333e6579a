# The routine table as R sees it once the library is loaded.
source("helpers.R")
library(client)

## ---- the eight routines with their argument counts ----
routines <- getDLLRegisteredRoutines("client")$.Call
counts <- vapply(routines, function(r) r$numParameters, integer(1))
expect_equal(counts[order(names(counts))], c(
  tarnwick_base64_decode = 1L, tarnwick_base64_encode = 1L,
  tarnwick_disable_inheritance = 0L, tarnwick_set_stderr = 2L,
  tarnwick_set_stderr_to_file = 1L, tarnwick_set_stdout = 2L,
  tarnwick_set_stdout_to_file = 1L, tarnwick_write = 2L))
for (kind in c(".C", ".Fortran", ".External")) {
  expect_equal(length(getDLLRegisteredRoutines("client")[[kind]]), 0L, info = kind)
}

## ---- R refuses a wrong argument count before the routine runs ----
expect_error(.Call(client:::tarnwick_write, 1L),
  pattern = "Incorrect number of arguments (1), expecting 2 for 'tarnwick_write'",
  fixed = TRUE)
expect_error(.Call(client:::tarnwick_disable_inheritance, 1L),
  pattern = "expecting 0", fixed = TRUE)

## ---- names given as strings are refused: symbols are forced ----
expect_error(.Call("tarnwick_base64_encode", raw(1), PACKAGE = "client"),
  pattern = "not available for .Call() for package \"client\"", fixed = TRUE)
expect_error(.Call("tarnwick_base64_encode", raw(1)), pattern = "not in load table",
  fixed = TRUE)

## ---- a child can load the shared object by itself ----
got <- in_child(quote({
  dll <- dyn.load(getLoadedDLLs()[["client"]][["path"]])
  encode <- getNativeSymbolInfo("tarnwick_base64_encode", dll)
  rawToChar(.Call(encode, charToRaw("abc")))
}))
expect_identical(got$value, "YWJj", info = paste(got$output, collapse = "\n"))
