# Base64 encoding and decoding, checked against plain R models of the format.
source("helpers.R")
txt <- function(s) charToRaw(s)

alphabet <- utf8ToInt("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
reverse <- rep(NA_integer_, 256)
reverse[alphabet + 1] <- 0:63
pad <- utf8ToInt("=")

model_encode <- function(x) {
  bits <- as.integer(rawToBits(rev(x)))  # least significant first, so reverse twice
  bits <- rev(bits)
  bits <- c(bits, integer((6 - length(bits) %% 6) %% 6))
  six <- if (length(bits)) colSums(matrix(bits, 6) * c(32, 16, 8, 4, 2, 1)) else integer()
  out <- alphabet[six + 1]
  as.raw(c(out, rep(pad, (4 - length(out) %% 4) %% 4)))
}

# The decoding walk as written: stops at the first "=", gives up on a bad byte and
# returns the provisional vector (unwritten bytes zero).
model_decode <- function(x) {
  n <- length(x)
  capacity <- 3 * (n %/% 4)
  out <- integer(capacity)
  if (n %% 4 != 0) return(raw(capacity))
  j <- 1L
  for (i in seq_len(n) - 1L) {
    byte <- as.integer(x[i + 1])
    if (byte == pad) break
    v <- reverse[byte + 1]
    if (is.na(v)) return(as.raw(out))
    k <- i %% 4
    if (k == 0) out[j] <- bitwAnd(v * 4L, 255L)
    if (k == 1) { out[j] <- out[j] + v %/% 16L; j <- j + 1L; out[j] <- bitwAnd(v * 16L, 255L) }
    if (k == 2) { out[j] <- out[j] + v %/% 4L; j <- j + 1L; out[j] <- bitwAnd(v * 64L, 255L) }
    if (k == 3) { out[j] <- out[j] + v; j <- j + 1L }
  }
  as.raw(out[seq_len(j - 1L)])
}

## ---- known texts ----
for (s in c("", "a", "ab", "abc", "abcd")) {
  expected <- c("", "YQ==", "YWI=", "YWJj", "YWJjZA==")[nchar(s) + 1]
  expect_identical(rawToChar(enc(txt(s))), expected, info = s)
  expect_identical(dec(txt(expected)), txt(s), info = expected)
}

## ---- encode: every byte value, random lengths, the shape of the text ----
bad <- Filter(function(b) !identical(dec(enc(as.raw(b))), as.raw(b)), 0:255)
expect_equal(length(bad), 0L, info = paste("fails for", paste(bad, collapse = " ")))
lengths <- c(0:70, sample(71:5000, 30))
wrong <- Filter(function(n) {
  x <- as.raw(sample(0:255, n, replace = TRUE))
  e <- enc(x)
  !identical(e, model_encode(x)) || !identical(dec(e), x)
}, lengths)
expect_equal(length(wrong), 0L, info = paste("lengths", paste(wrong, collapse = " ")))
all_bytes <- enc(as.raw(0:255))
expect_identical(all_bytes, model_encode(as.raw(0:255)))

## ---- decode: every 4-byte text over telling bytes, 8-byte ones over fewer ----
mismatches <- function(symbols, width) {
  grid <- as.matrix(expand.grid(rep(list(symbols), width)))
  Filter(function(r) !identical(dec(as.raw(grid[r, ])), model_decode(as.raw(grid[r, ]))),
    seq_len(nrow(grid))) |> vapply(function(r) paste(grid[r, ], collapse = ","), "")
}
telling <- c(utf8ToInt("AQgw/+=!"), 0x0A, 0x80, 0xFF, 0)
expect_equal(mismatches(telling, 4), character(), info = "4-byte texts")
expect_equal(mismatches(utf8ToInt("YQ=!"), 8), character(), info = "8-byte texts")

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

## ---- decode: damage inside, between and after the blocks vector code takes ----
# Texts of a few hundred characters pass through whole blocks first; a "=", a bad byte
# or a high byte anywhere must give what the walk gives, exact-length vector or not.
text <- enc(as.raw(sample(0:255, 200, replace = TRUE)))  # 268 characters, one "="
damaged <- unlist(lapply(c(utf8ToInt("=!"), 0x80), function(b) {
  Filter(function(pos) {
    x <- text
    x[pos] <- as.raw(b)
    !identical(dec(x), model_decode(x))
  }, seq_along(text)) |> vapply(function(pos) sprintf("%d at %d", b, pos), "")
}))
expect_equal(damaged, character(), info = "damaged texts")
for (n in c(0, 1, 2, 47, 48, 49, 95, 96, 97, 191, 192, 193)) {
  x <- as.raw(sample(0:255, n, replace = TRUE))
  expect_identical(dec(enc(x)), x, info = paste(n, "bytes"))
}
