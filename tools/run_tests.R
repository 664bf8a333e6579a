# Runs the installed package's tinytest files, or those named as arguments
# (test_split.R ...), and ends with "N passed, N failed". run_test_dir() runs them "at
# home", so the long tests run too; CLIENT_LONG_TESTS=0 skips them (see long_tests() in
# inst/tinytest/helpers.R).
library(tinytest)
set.seed(20261208)
files <- commandArgs(TRUE)
pattern <- if (length(files) == 0L) "^test.*\\.[rR]$" else {
  paste0("^(", paste(gsub(".", "\\.", files, fixed = TRUE), collapse = "|"), ")$")
}
results <- run_test_dir(system.file("tinytest", package = "client"), pattern = pattern,
  verbose = 1)
outcomes <- as.data.frame(results)$result
failed <- results[!outcomes]
if (length(failed) > 0) print(failed, passes = FALSE)
cat(sprintf("%d passed, %d failed\n", sum(outcomes), sum(!outcomes)))
quit(status = if (all(outcomes)) 0L else 1L)
