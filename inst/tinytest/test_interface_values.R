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
# Nothing after the first "=" is looked at, as the routine has it.
expect_identical(base64_decode("YQ==YWJj"), charToRaw("a"))
expect_identical(base64_decode("YQ==!!!!"), charToRaw("a"))
expect_identical(base64_decode("===="), raw(0))

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
  list(as.raw(c(0x59, 0, 0x3d, 0x3d)), "byte 2 (0x00) is outside"))
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
