# The two routines of the plain codec, through .Call: known texts, round trips, and the
# vector they return for malformed text. Every kernel is checked against a model of
# the format, byte for byte, by the codec harness (make harness) and the fuzz targets;
# what is checked here is what only R shows: the vectors and their lengths.
source("helpers.R")
txt <- function(s) charToRaw(s)

## ---- known texts ----
for (s in c("", "a", "ab", "abc", "abcd")) {
  expected <- c("", "YQ==", "YWI=", "YWJj", "YWJjZA==")[nchar(s) + 1]
  expect_identical(rawToChar(enc(txt(s))), expected, info = s)
  expect_identical(dec(txt(expected)), txt(s), info = expected)
}

## ---- every byte value, random lengths: decoding gives back what was encoded ----
bad <- Filter(function(b) !identical(dec(enc(as.raw(b))), as.raw(b)), 0:255)
expect_equal(length(bad), 0L, info = paste("fails for", paste(bad, collapse = " ")))
lengths <- c(0:70, 95:97, 191:193, sample(71:5000, 30))
wrong <- Filter(function(n) {
  x <- as.raw(sample(0:255, n, replace = TRUE))
  e <- enc(x)
  length(e) != 4 * ceiling(n / 3) || !identical(dec(e), x)
}, lengths)
expect_equal(length(wrong), 0L, info = paste("lengths", paste(wrong, collapse = " ")))

## ---- decode: padding, stray bits, what follows the first "=" ----
expect_identical(dec(txt("YR==")), txt("a"))  # low bits of "R" are dropped
expect_identical(dec(txt("YQ==YWJj")), txt("a"))
expect_identical(dec(txt("YQ=!")), txt("a"))
expect_identical(dec(txt("====")), raw(0))
expect_identical(dec(txt("Y===")), raw(0))

## ---- decode: malformed text returns the provisional vector, zero where unwritten ----
expect_identical(dec(txt("YWJjZ")), raw(3))
expect_identical(dec(txt("YWJ")), raw(0))
expect_identical(dec(txt("YQ!=")), as.raw(c(0x61, 0, 0)))
expect_identical(dec(txt("YWJj\nWJj")), c(txt("abc"), raw(3)))
expect_identical(dec(txt("!AAA")), raw(3))
for (bad_byte in c("!", " ", "\n", "-", "_")) {
  expect_identical(length(dec(txt(paste0("AB", bad_byte, "D")))), 3L, info = bad_byte)
}
# Past the blocks that vector code takes whole: a bad byte deep in a long text.
long <- enc(as.raw(sample(0:255, 3000, replace = TRUE)))
long[2001] <- txt("!")
expect_identical(dec(long)[1:1500], dec(enc(dec(long[1:2000])))[1:1500])
expect_identical(length(dec(long)), 3000L)
expect_true(all(dec(long)[1502:3000] == 0))
