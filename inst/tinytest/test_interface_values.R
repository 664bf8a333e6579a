# What the exported functions accept and return, for the functions that leave
# descriptors 1 and 2 alone.
source("helpers.R")
library(client)
load_helper()

## ---- fd_write: doubles as descriptors, strings as their bytes ----
p <- th("th_pipe")
expect_identical(fd_write(as.numeric(p[2]), "h\u00e9 "), 4L)
expect_identical(fd_write(p[2], as.raw(0:2)), 3L)
expect_identical(fd_write(p[2], c(a = as.raw(7))), 1L)
expect_identical(th("th_read", p[1], 100L), c(charToRaw("h\u00e9 "), as.raw(c(0:2, 7))))
expect_identical(withVisible(fd_write(p[2], raw(0)))$visible, FALSE)
th("th_close", p[1])
th("th_close", p[2])
# The largest descriptor number passes the check; the system then refuses it.
expect_error(fd_write(.Machine$integer.max, raw(0)), pattern = system_error("EBADF"),
  fixed = TRUE)

## ---- base64: strings and raw vectors, results as raw vectors ----
pairs <- list(c("", ""), c("a", "YQ=="), c("ab", "YWI="), c("abc", "YWJj"),
  c("abcd", "YWJjZA=="), c("\u00e9", "w6k="))
for (pair in pairs) {
  expect_identical(base64_encode(pair[1]), charToRaw(pair[2]), info = pair[1])
  expect_identical(base64_encode(charToRaw(pair[1])), charToRaw(pair[2]), info = pair[1])
  expect_identical(base64_decode(pair[2]), charToRaw(pair[1]), info = pair[2])
  expect_identical(base64_decode(charToRaw(pair[2])), charToRaw(pair[1]), info = pair[2])
}
all_bytes <- as.raw(0:255)
expect_identical(base64_decode(base64_encode(all_bytes)), all_bytes)
expect_identical(base64_decode(c(x = charToRaw("YWJj"))), charToRaw("abc"))
# Bits of the last character that fill no byte are dropped, as strict decoders do.
expect_identical(base64_decode("QR=="), charToRaw("A"))

## ---- base64_decode: malformed text is an error, not a vector of zeros ----
# The routine returns a zero-filled vector of full length for these; a caller could
# not tell it from decoded data.
malformed <- list(
  list("YWJ", "its length, 3, is not a multiple of 4"),
  list("YWJjZ", "its length, 5, is not a multiple of 4"),
  list("YWJj\nYWJj", "its length, 9, is not a multiple of 4"),
  list("!WJj", "byte 1 (0x21) is outside"), list("YW J", "byte 3 (0x20) is outside"),
  list("YWJjYWJ\n", "byte 8 (0x0a) is outside"), list("YWJjYW-j", "byte 7 (0x2d) is outside"),
  list("YWJjY_==", "byte 6 (0x5f) is outside"),
  list(c(charToRaw("YWJj"), as.raw(c(0x59, 0x80, 0x4a, 0x6a))), "byte 6 (0x80) is outside"),
  list(as.raw(c(0x59, 0, 0x3d, 0x3d)), "byte 2 (0x00) is outside"),
  # "=" is padding only: one or two of them end the text. The routine stops at the
  # first "=", so these once lost what followed it, or all of it, without an error.
  list("YQ==YWJj", "byte 3 (0x3d) is \"=\" out of place"),
  list("YWJjYW=j", "byte 7 (0x3d) is \"=\" out of place"),
  list("YQ=A", "byte 3 (0x3d) is \"=\" out of place"),
  list("====", "byte 1 (0x3d) is \"=\" out of place"),
  list("A===", "byte 2 (0x3d) is \"=\" out of place"),
  list("YWJj====", "byte 5 (0x3d) is \"=\" out of place"),
  list("YQ==!!!!", "byte 3 (0x3d) is \"=\" out of place"),
  list("Y!==", "byte 2 (0x21) is outside"),
  list(replace(base64_encode(as.raw(rep(0:255, 48))), 101, charToRaw("=")),
    "byte 101 (0x3d) is \"=\" out of place"))
for (case in malformed) {
  message <- tryCatch({ base64_decode(case[[1]]); "no error" }, error = conditionMessage)
  expect_true(startsWith(message, paste("`x` is not base64 text:", case[[2]])),
    info = message)
}

## ---- base64_decode: any byte at any place, before and inside a run of "A" ----
# Long text without "=" is checked from its last group with a character other than "A";
# the endings put the bad byte before, inside and after that group, and the start of
# the text stands for everything before. Short text is checked whole.
alphabet <- charToRaw(paste0(c(LETTERS, letters, 0:9, "+", "/"), collapse = ""))
long_start <- base64_encode(as.raw(rep(0:255, 48)))  # 16384 characters
wrong <- character()
for (ending in c("YWJjAAAA", "AAAAYWJj", "AAAAAAAA", "YWJjAAAAAAAAAAAA")) {
  for (start in list(raw(0), long_start)) {
    text <- c(start, charToRaw(ending))
    for (at in c(1, length(start) + seq_len(nchar(ending)))) {
      for (byte in setdiff(0:255, 0x3d)) {  # "=" ends the text early: a case of its own
        changed <- text
        changed[at] <- as.raw(byte)
        refused <- inherits(tryCatch(base64_decode(changed), error = identity), "error")
        if (refused != !(as.raw(byte) %in% alphabet)) {
          wrong <- c(wrong, sprintf("%s after %d: byte %d = 0x%02x", ending,
            length(start), at, byte))
        }
      }
    }
  }
}
expect_equal(length(wrong), 0L, info = paste(head(wrong, 20), collapse = "; "))
# Past the characters other than "A" that are looked at first, only a whole check
# tells: a bad byte before a long run of "A", and valid text ending in one.
long_run <- rep(charToRaw("A"), 20000)
expect_error(base64_decode(c(charToRaw("YW!j"), long_run)), "byte 3 \\(0x21\\)")
expect_identical(base64_decode(c(charToRaw("YWJj"), long_run)),
  c(charToRaw("abc"), raw(15000)))
expect_identical(base64_decode(base64_encode(c(as.raw(1:200), raw(15000)))),
  c(as.raw(1:200), raw(15000)))

## ---- base64_decode() against a strict decoder, over damaged texts ----
# Python's decoder with validate=True refuses misplaced "=" from version 3.11 on.
# Before 3.14 it also accepts "=" after a whole group ("YWJj=", "YWJj===="), which
# base64_decode() refuses: that is the one difference allowed.
python <- Sys.which("python3")
version_check <- shQuote("import sys; print(sys.version_info >= (3, 11))")
strict_python <- nzchar(python) && identical(suppressWarnings(system2(python,
  c("-c", version_check), stdout = TRUE)), "True")
if (!strict_python) {
  message("skipped: base64_decode() against a strict decoder needs python3 3.11 or later")
} else {
  damage <- function(text) {
    odd_bytes <- c(charToRaw("=A/+! \n"), as.raw(c(0x80, 0xff, 0)))
    for (k in seq_len(sample(0:2, 1))) {
      n <- length(text)
      at <- if (n > 0) sample(c(n:max(1, n - 5), sample(n, 1)), 1) else 0
      text <- switch(sample(4, 1),
        if (n > 0) replace(text, at, sample(odd_bytes, 1)) else text,
        c(text, charToRaw(strrep("=", sample(2, 1)))),
        text[seq_len(max(0, n - sample(2, 1)))],
        replace(text, at[n > 0], charToRaw("=")))
    }
    text
  }
  lengths <- c(sample(0:30, 3000, TRUE), sample(12288:12300, 40, TRUE))
  texts <- lapply(lengths, function(n) damage(base64_encode(as.raw(sample(0:255, n, TRUE)))))
  hex <- function(x) paste(format(x), collapse = "")
  input <- tempfile()
  writeLines(vapply(texts, hex, ""), input)
  decoder <- paste(sep = "\n", "import base64, binascii, sys",
    "for line in sys.stdin:",
    "    try: print(base64.b64decode(bytes.fromhex(line), validate=True).hex())",
    "    except binascii.Error: print('refused')")
  theirs <- system2(python, c("-c", shQuote(decoder)), stdin = input, stdout = TRUE)
  unlink(input)
  ours <- vapply(texts, function(text) {
    tryCatch(hex(base64_decode(text)), error = function(e) "refused")
  }, "")
  padding_after_whole_group <- vapply(texts, function(text) {
    data <- sum(cumsum(text == charToRaw("=")) == 0)
    data %% 4 == 0 && data < length(text) && all(text[-seq_len(data)] == charToRaw("="))
  }, NA)
  allowed <- theirs != "refused" & ours == "refused" & padding_after_whole_group
  differ <- which(ours != theirs & !allowed)
  expect_equal(length(theirs), length(texts))
  expect_equal(length(differ), 0L, info = paste(vapply(texts[head(differ, 5)], hex, ""),
    collapse = " | "))
  # The damage must make texts of every kind: accepted, refused, padding after a group.
  kinds <- c(refused = sum(ours == "refused"), accepted = sum(ours != "refused"),
    padded_after_group = sum(padding_after_whole_group))
  expect_true(all(kinds > 50), info = paste(kinds, collapse = " "))
}
