# Base64 text (standard alphabet, "=" padding, no line breaks) to and from bytes.

base64_encode <- function(x) {
  x <- as_bytes(x, "x")
  .Call(tarnwick_base64_encode, x)
}

base64_decode <- function(x) {
  text <- as_bytes(x, "x", "base64 text: a single string or a raw vector")
  n <- length(text)
  if (n %% 4 != 0) {
    stop(sprintf("`x` is not base64 text: its length, %.0f, is not a multiple of 4", n))
  }
  out <- .Call(tarnwick_base64_decode, text)
  # The decoder stops at the first "=" and gives up at a byte outside the alphabet,
  # returning the full 3 bytes per group then. So well-formed text decodes to exactly
  # the length its final "=" announce; anything else means a misplaced "=" or a bad
  # byte. Text without "=" comes back at full length either way and is checked apart.
  padding <- padding_length(text)
  if (length(out) != n / 4 * 3 - padding) stop_malformed(text, padding)
  if (padding == 0 && n > 0) {
    whole <- if (n < one_group_check_from) {
      identical(.Call(tarnwick_base64_encode, out), text)
    } else {
      decoded_whole(text, out)
    }
    if (!whole) stop_malformed(text, padding)
  }
  out
}

pad_byte <- as.raw(0x3d)
alphabet_bytes <- charToRaw(paste0(
  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"))

# How many "=" end `text`, up to two: a third one before them is never padding.
padding_length <- function(text) {
  n <- length(text)
  if (n == 0 || text[n] != pad_byte) return(0)
  if (text[n - 1] == pad_byte) 2 else 1
}

# Text shorter than this is encoded back whole, which costs less than the R calls of
# decoded_whole().
one_group_check_from <- 16384

# How far back from its end decoded_whole() looks for a character other than "A".
tail_window <- 64

# Whether `out`, decoded from `text` at full length, comes from every group of `text`
# rather than from a decoder that gave up at a byte outside the alphabet. Where it gives
# up, the decoder leaves the rest of `out` zero, which encodes as "AAAA" in every later
# group; so the last group of `text` with a character other than "A" encodes back from
# `out` exactly when the decoder got past it (groups after it are "AAAA", all alphabet).
# That costs one group. Text that ends in a long run of "A" is encoded back whole.
decoded_whole <- function(text, out) {
  n <- length(text)
  from <- n - tail_window + 1
  not_a <- which(text[from:n] != as.raw(0x41))
  if (length(not_a) == 0) return(identical(.Call(tarnwick_base64_encode, out), text))
  group <- (from + not_a[length(not_a)] - 2) %/% 4  # counted from 0
  identical(.Call(tarnwick_base64_encode, out[3 * group + 1:3]), text[4 * group + 1:4])
}

# Text is searched for its first offending byte in pieces of this many bytes, so that
# a long text that fails early costs little and a long one never costs a copy of itself
# in R's four-byte logicals.
search_piece <- 2^20

# Stops naming the first byte of `text` that makes it malformed: a byte outside the
# alphabet, or an "=" other than the `padding` ones that end the text.
stop_malformed <- function(text, padding) {
  last_data <- length(text) - padding
  for (from in seq(1, last_data, by = search_piece)) {
    piece <- text[from:min(last_data, from + search_piece - 1)]
    bad <- which(!(piece %in% alphabet_bytes))
    if (length(bad) > 0) break
  }
  at <- from - 1 + bad[1]
  why <- if (text[at] == pad_byte) {
    "is \"=\" out of place (padding is one or two \"=\" at the very end)"
  } else {
    "is outside the base64 alphabet (spaces and line breaks are not accepted)"
  }
  stop(simpleError(sprintf("`x` is not base64 text: byte %.0f (0x%02x) %s", at,
    as.integer(text[at]), why), call = sys.call(-1L)))
}
