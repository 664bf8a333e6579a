# Base64 text (standard alphabet, "=" padding, no line breaks) to and from bytes.

# Encodes a raw vector or a string's bytes. Returns the text as a raw vector.
base64_encode <- function(x) {
  x <- as_bytes(x, "x")
  .Call(tarnwick_base64_encode, x)
}

# Decodes base64 text given as a string or a raw vector. Returns the bytes, or stops
# naming the first byte that makes the text malformed: a length that is not a multiple
# of 4, a byte outside the alphabet, or an "=" that is not padding (one or two at the
# very end). The routine never refuses anything, so its result is checked here: it
# stops at the first "=" and gives up at a bad byte, and each shows in its length.
base64_decode <- function(x) {
  text <- as_bytes(x, "x", "base64 text: a single string or a raw vector")
  n <- length(text)
  if (n %% 4 != 0) {
    stop(sprintf("`x` is not base64 text: its length, %.0f, is not a multiple of 4", n))
  }
  out <- .Call(tarnwick_base64_decode, text)
  # Well-formed text comes back 3 bytes a group, less one for "=" at the end and two
  # for "==". Full length also comes back for a bad byte, which encoding the result
  # back tells. The lengths are compared without a variable in between: on short text
  # each R operation shows in the time of a call.
  if (length(out) == n * 0.75) {
    if (n > 0) {
      whole <- if (n < one_group_check_from) {
        identical(.Call(tarnwick_base64_encode, out), text)
      } else {
        decoded_whole(text, out)
      }
      if (!whole) stop_malformed(text, sys.call())
    }
  } else if (length(out) != n * 0.75 - 1 &&
    (length(out) != n * 0.75 - 2 || text[n] != pad_byte)) {
    stop_malformed(text, sys.call())
  }
  out
}

pad_byte <- as.raw(0x3d)

# Indexed by a byte's value + 1: whether it is a character of the alphabet.
in_alphabet <- local({
  table <- logical(256)
  alphabet <- "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
  table[as.integer(charToRaw(alphabet)) + 1L] <- TRUE
  table
})

# Text shorter than this is encoded back whole, which costs less than the R calls of
# checking one group.
one_group_check_from <- 16384

# How far back from its end decoded_whole() looks for a character other than "A".
tail_window <- 64

# Whether `out`, decoded from long `text` (a multiple of 4 bytes, no "=") at full
# length, comes from every group of `text` rather than from a decoder that gave up at a
# byte outside the alphabet. Where it gives up, the decoder leaves the rest of `out`
# zero, which encodes as "AAAA" in every later group; so the last group of `text` with
# a character other than "A" encodes back from `out` exactly when the decoder got past
# it. Text that ends in a long run of "A" is encoded back whole.
decoded_whole <- function(text, out) {
  n <- length(text)
  from <- n - tail_window + 1
  not_a <- which(text[from:n] != as.raw(0x41))
  if (length(not_a) == 0) return(identical(.Call(tarnwick_base64_encode, out), text))
  group <- (from + not_a[length(not_a)] - 2) %/% 4  # counted from 0
  identical(.Call(tarnwick_base64_encode, out[3 * group + 1:3]), text[4 * group + 1:4])
}

# Stops, naming `call`, at the first byte of `text` (a multiple of 4 bytes) that is
# neither in the alphabet nor padding. Runs only on text known to be malformed.
stop_malformed <- function(text, call) {
  n <- length(text)
  ok <- in_alphabet[as.integer(text) + 1L]
  padding <- if (text[n] != pad_byte) 0L else if (text[n - 1L] != pad_byte) 1L else 2L
  ok[n - seq_len(padding) + 1L] <- TRUE
  at <- which.min(ok)
  why <- if (text[at] == pad_byte) {
    "is \"=\" out of place (padding is one or two \"=\" at the very end)"
  } else {
    "is outside the base64 alphabet (spaces and line breaks are not accepted)"
  }
  stop(simpleError(sprintf("`x` is not base64 text: byte %.0f (0x%02x) %s", at,
    as.integer(text[at]), why), call = call))
}
