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
  # The decoder stops at the first "=", so valid text that has one decodes to fewer
  # bytes than three per four characters. A full-length result means either text
  # without "=" or a byte outside the alphabet, where the decoder gave up; encoding
  # the result again gives back exactly the text in the first case only.
  if (n > 0 && length(out) == n / 4 * 3) {
    again <- .Call(tarnwick_base64_encode, out)
    if (!identical(again, text)) stop_bad_byte(text, again)
  }
  out
}

# Stops naming the first byte of `text` outside the alphabet: the first place where
# `text` and the encoding of what was decoded from it differ.
stop_bad_byte <- function(text, again) {
  at <- which.max(text != again)
  stop(simpleError(sprintf(paste(
    "`x` is not base64 text: byte %.0f (0x%02x) is outside the base64 alphabet",
    "(spaces and line breaks are not accepted)"), at, as.integer(text[at])),
    call = sys.call(-1L)))
}
