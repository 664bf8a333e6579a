# The routine tables as R sees them: client.so, loaded by hand, and the package's own
# library, which NAMESPACE loads.
source("helpers.R")
library(client)

fixed <- c(tarnwick_base64_decode = 1L, tarnwick_base64_encode = 1L,
  tarnwick_disable_inheritance = 0L, tarnwick_set_stderr = 2L,
  tarnwick_set_stderr_to_file = 1L, tarnwick_set_stdout = 2L,
  tarnwick_set_stdout_to_file = 1L, tarnwick_write = 2L)
counts <- function(dll) {
  routines <- getDLLRegisteredRoutines(dll)
  for (kind in c(".C", ".Fortran", ".External")) {
    expect_equal(length(routines[[kind]]), 0L, info = kind)
  }
  found <- vapply(routines$.Call, function(r) r$numParameters, integer(1))
  found[order(names(found))]
}

## ---- client.so: exactly the eight routines; the package's library: those and more ----
# The package's own routines are those its table registers; each must be called by the
# package's R code, or it is dead.
dll <- dyn.load(client_so())
expect_equal(counts(dll), fixed)
package_counts <- counts(getLoadedDLLs()[["client_package"]])
expect_equal(package_counts[names(fixed)], fixed)
ns <- asNamespace("client")
functions <- Filter(is.function, mget(ls(ns, all.names = TRUE), envir = ns))
called <- unique(unlist(lapply(functions, function(f) all.names(body(f)))))
uncalled <- setdiff(names(package_counts), c(names(fixed), called))
expect_identical(uncalled, character(), info = "routines that no R function calls")

## ---- R refuses a wrong argument count before the routine runs ----
expect_error(.Call(client:::tarnwick_write, 1L),
  as_regex("Incorrect number of arguments (1), expecting 2 for 'tarnwick_write'"))
expect_error(.Call(client:::tarnwick_disable_inheritance, 1L),
  pattern = "expecting 0")
expect_error(.Call(getNativeSymbolInfo("tarnwick_write", dll, withRegistrationInfo = TRUE),
  1L), pattern = "expecting 2")

## ---- names given as strings are refused: symbols are forced in both ----
for (package in c("client", "client_package")) {
  expect_error(.Call("tarnwick_base64_encode", raw(1), PACKAGE = package),
    pattern = as_regex(sprintf("not available for .Call() for package \"%s\"",
      package)))
}
expect_error(.Call("tarnwick_base64_encode", raw(1)), pattern = "not in load table")

## ---- a child can load client.so by itself ----
got <- in_child(bquote({
  dll <- dyn.load(.(client_so()))
  encode <- getNativeSymbolInfo("tarnwick_base64_encode", dll)
  rawToChar(.Call(encode, charToRaw("abc")))
}))
expect_identical(got$value, "YWJj", info = paste(got$output, collapse = "\n"))
