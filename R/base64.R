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
  # The decoder stops at the first "=", and at a byte outside the alphabet it gives up
  # and returns 3 bytes a group. Text that comes back at full length therefore either
  # has no "=" or holds a bad byte, which encoding the result back tells. Well-formed
  # padding comes back one byte short for "=" at the end, two for "==", and any other
  # shortfall means an "=" out of place. The lengths are compared without a variable
  # in between: on short text each R operation shows in the time of a call.
  if (length(out) == n * 0.75) {
    if (n > 0) {
      whole <- if (n < one_group_check_from) {
        identical(.Call(tarnwick_base64_encode, out), text)
      } else {
        decoded_whole(text, out)
      }
      if (!whole) stop_malformed(text, out)
    }
  } else if (length(out) != n * 0.75 - 1 &&
    (length(out) != n * 0.75 - 2 || text[n] != pad_byte)) {
    stop_malformed(text, out)
  }
  out
}

pad_byte <- as.raw(0x3d)

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

# Stops naming the first byte of `text` that makes it malformed, the one where the
# decoder stopped. When `out` is short of 3 bytes a group, the decoder stopped at the
# first "=", all bytes before it in the alphabet, and the length of `out` tells where
# that "=" stands within two places. Otherwise it gave up at a byte outside the
# alphabet: the first place where `text` and the encoding of `out` differ.
stop_malformed <- function(text, out) {
  if (length(out) < length(text) / 4 * 3) {
    at <- ceiling(length(out) * 4 / 3) + 1
    if (text[at] != pad_byte) at <- at + 1
  } else {
    at <- which.max(text != .Call(tarnwick_base64_encode, out))
  }
  why <- if (text[at] == pad_byte) {
    "is \"=\" out of place (padding is one or two \"=\" at the very end)"
  } else {
    "is outside the base64 alphabet (spaces and line breaks are not accepted)"
  }
  stop(simpleError(sprintf("`x` is not base64 text: byte %.0f (0x%02x) %s", at,
    as.integer(text[at]), why), call = sys.call(-1L)))
}
