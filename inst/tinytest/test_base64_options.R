# base64_encode() and base64_decode() with their options: what they accept and
# return, what they refuse and how they word it, against Python's base64 module.
source("helpers.R")
library(client)

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
  # A bad byte comes before a wrong length: the length is only known at the end.
  list("YWJj\nYWJj", "byte 5 (0x0a) is outside the base64 alphabet (use breaks = TRUE"),
  list("aGVs bG8=", "byte 5 (0x20) is outside"), list("YQ===", "byte 3 (0x3d) is \"=\""),
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
# Every byte but "=" at each place near the end of short and long texts must be refused
# exactly when it is outside the alphabet. A decoder of this package once checked long
# text only from its last group with a character other than "A": the endings put the
# bad byte before, inside and after such a group, and the long start stands for what
# that shortcut never looked at.
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
# A bad byte before a long run of "A", and valid text ending in one: the shortcut above
# looked past both.
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
strict_python <- python_at_least("3.11")
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
  decoder <- paste(sep = "\n", "import base64, binascii, sys",
    "for line in sys.stdin:",
    "    try: print(base64.b64decode(bytes.fromhex(line), validate=True).hex())",
    "    except binascii.Error: print('refused')")
  theirs <- python_lines(vapply(texts, hex, ""), decoder)
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

## ---- base64 options against Python's base64 module ----
# Random bytes, short and long: the URL-safe alphabet with and without padding, lines of
# 76 as encodebytes() writes them, and decoding of each; then damaged texts, which must
# be refused exactly when the strict decoder refuses them once their line ends are gone.
if (!strict_python) {
  message("skipped: base64 options against Python need python3 3.11 or later")
} else {
  inputs <- lapply(c(sample(0:80, 400, TRUE), sample(3000:3100, 20, TRUE)),
    function(n) as.raw(sample(0:255, n, TRUE)))
  hex <- function(x) paste(format(x), collapse = "")
  encoder <- paste(sep = "\n", "import base64, sys",
    "for line in sys.stdin:",
    "    b = bytes.fromhex(line)",
    "    u = base64.urlsafe_b64encode(b).decode()",
    "    print(u, u.rstrip('='), base64.encodebytes(b).decode().replace('\\n', '|'))")
  theirs <- strsplit(python_lines(vapply(inputs, hex, ""), encoder), " ", fixed = TRUE)
  ours <- lapply(inputs, function(x) c(base64_encode(x, url = TRUE, as = "string"),
    base64_encode(x, url = TRUE, pad = FALSE, as = "string"),
    gsub("\n", "|", paste0(base64_encode(x, width = 76, as = "string"),
      if (length(x)) "\n" else ""))))
  theirs <- lapply(theirs, function(t) c(t, rep("", 3 - length(t))))  # "" for no bytes
  expect_identical(ours, theirs)
  back <- Map(function(x, t) identical(base64_decode(t[1], url = TRUE), x) &&
    identical(base64_decode(t[2], url = TRUE), x) &&
    identical(base64_decode(gsub("|", "\r\n", t[3], fixed = TRUE), breaks = TRUE), x),
    inputs, ours)
  expect_true(all(unlist(back)))

  damaged <- lapply(inputs, function(x) {
    text <- base64_encode(x, width = sample(c(8, 76), 1), eol = sample(c("\n", "\r\n"), 1))
    for (k in seq_len(sample(0:2, 1))) {
      if (length(text)) text[sample(length(text), 1)] <- sample(charToRaw("=A!\n\r-_ "), 1)
    }
    text
  })
  checker <- paste(sep = "\n", "import base64, binascii, sys",
    "for line in sys.stdin:",
    "    b = bytes.fromhex(line).replace(b'\\n', b'').replace(b'\\r', b'')",
    "    try: print(base64.b64decode(b, validate=True).hex())",
    "    except binascii.Error: print('refused')")
  theirs <- python_lines(vapply(damaged, hex, ""), checker)
  ours <- vapply(damaged, function(text) {
    tryCatch(hex(base64_decode(text, breaks = TRUE)), error = function(e) "refused")
  }, "")
  # Python before 3.14 accepts "=" after a whole group, which is refused here.
  after_group <- vapply(damaged, function(text) {
    text <- text[text != as.raw(10) & text != as.raw(13)]
    data <- sum(cumsum(text == charToRaw("=")) == 0)
    data %% 4 == 0 && data < length(text) && all(text[-seq_len(data)] == charToRaw("="))
  }, NA)
  differ <- which(ours != theirs & !(ours == "refused" & after_group))
  expect_equal(length(differ), 0L, info = paste(vapply(damaged[head(differ, 3)], hex, ""),
    collapse = " | "))
  expect_true(sum(ours == "refused") > 50 && sum(ours != "refused") > 50)
}

## ---- options: every refusal names the first offending byte of the text as given ----
refusals <- list(
  list("YQ=A", list(url = TRUE), "byte 3 (0x3d) is \"=\" out of place"),
  list("YQ==YQ", list(url = TRUE), "byte 3 (0x3d) is \"=\" out of place"),
  list("YW+j", list(url = TRUE), "byte 3 (0x2b) is outside the URL-safe base64 alphabet"),
  list("YW/j", list(url = TRUE), "byte 3 (0x2f) is outside the URL-safe base64 alphabet"),
  list("YWJjY", list(url = TRUE), "its length, 5, is one more than a multiple of 4"),
  list("YQ=", list(url = TRUE), "its length, 3, is not a multiple of 4"),
  list("YW-j", list(), "byte 3 (0x2d) is outside the base64 alphabet (use url = TRUE"),
  list("YW_j", list(breaks = TRUE), "byte 3 (0x5f) is outside the base64 alphabet (use url"),
  list("YW j", list(), "byte 3 (0x20) is outside the base64 alphabet (spaces and"),
  list("YWJj\nYW!j", list(breaks = TRUE), "byte 8 (0x21) is outside the base64 alphabet"),
  list("YW\r\n=j\n", list(breaks = TRUE), "byte 5 (0x3d) is \"=\" out of place"),
  list("YWJ\nj\n\nY", list(breaks = TRUE),
    "its length without line ends, 5, is not a multiple of 4"),
  list("YW\nJj", list(url = TRUE), paste("byte 3 (0x0a) is outside the URL-safe base64",
    "alphabet (use breaks = TRUE for text with line breaks)")),
  list("YW\nJj Y-_", list(breaks = TRUE), "byte 6 (0x20) is outside"),
  list("YW\nJ-_jYW\nJ", list(url = TRUE, breaks = TRUE),
    "its length without line ends, 9, is one more than a multiple of 4"),
  list("YW\nJ-_+", list(url = TRUE, breaks = TRUE), "byte 7 (0x2b) is outside the URL"),
  list(c("YQ==", "YWJj", "YW J"), list(as = "string"), "`x[3]` is not base64 text: byte 3"),
  list(c("YQ", NA, "Y"), list(url = TRUE, as = "string"), "`x[3]` is not base64 text: its"),
  list(c("YQ==", "AA=="), list(as = "string"), "`x[2]` decodes to a NUL byte"),
  list(charToRaw("AGE="), list(as = "string"), "`x` decodes to a NUL byte"))
for (case in refusals) {
  message <- tryCatch({ do.call(base64_decode, c(list(case[[1]]), case[[2]])); "no error" },
    error = conditionMessage)
  expect_true(grepl(case[[3]], message, fixed = TRUE), info = paste(deparse1(case[1:2]),
    message))
}

## ---- many strings at once: each as if encoded or decoded alone; NA stays NA ----
values <- c("", "a", "ab", "abc", "abcd", NA, "h\u00e9", strrep("\u00e9t\u00e9", 30))
for (options in list(list(), list(url = TRUE), list(url = TRUE, pad = FALSE),
                     list(width = 8), list(width = 4, eol = "\r\n"))) {
  encoded <- do.call(base64_encode, c(list(values, as = "string"), options))
  alone <- vapply(values, function(v) if (is.na(v)) NA_character_ else
    do.call(base64_encode, c(list(v, as = "string"), options)), "", USE.NAMES = FALSE)
  expect_identical(encoded, alone, info = deparse1(options))
  decoding <- list(url = isTRUE(options$url), breaks = !is.null(options$width))
  back <- do.call(base64_decode, c(list(encoded, as = "string"), decoding))
  expect_identical(charToRaw(paste(back[-6], collapse = "|")),
    charToRaw(paste(values[-6], collapse = "|")), info = deparse1(options))
  expect_identical(is.na(back), is.na(values))
}
expect_identical(base64_encode(as.raw(c(0xfb, 0xff)), url = TRUE, as = "string"), "-_8=")
expect_identical(base64_decode("-_8", url = TRUE), as.raw(c(0xfb, 0xff)))
expect_identical(base64_encode(charToRaw(strrep("x", 12)), width = 8), charToRaw(
  "eHh4eHh4\neHh4eHh4"))
