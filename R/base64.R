# Base64 text to and from bytes: the standard or the URL-safe alphabet, with or without
# padding and line breaks, as raw vectors or strings. One routine call does the work
# and reads the arguments too: it takes each in its plain form, the form the checkers
# here give, and returns NULL for any other. Only then are the arguments checked, which
# names the first wrong one. A decoder reports malformed text, and stop_malformed()
# words the report. On short input a call is mostly its R code, so that stays short.

base64_encode <- function(x, url = FALSE, pad = TRUE, width = 0, eol = "\n",
                          as = c("raw", "string")) {
  if (nargs() == 1L && is.raw(x) && is.null(attributes(x))) {
    return(.Call(tarnwick_base64_encode, x))
  }
  out <- .Call(tarnwick_base64_encode_options, x, url, pad, width, eol, as)
  if (is.null(out)) {
    call <- sys.call()
    url <- as_flag(url, "url", call)
    pad <- as_flag(pad, "pad", call)
    width <- as_width(width, call)
    eol <- as_eol(eol, call)
    as <- as_choice(as, "as", c("raw", "string"), call)
    x <- as_text_or_values(x, as == "string", "a raw vector or a single string", call)
    out <- .Call(tarnwick_base64_encode_options, x, url, pad, width, eol, as)
  }
  out
}

base64_decode <- function(x, url = FALSE, breaks = FALSE, as = c("raw", "string")) {
  out <- .Call(tarnwick_base64_decode_options, x, url, breaks, as)
  if (is.raw(out) || is.character(out)) return(out)
  call <- sys.call()
  if (is.null(out)) {
    url <- as_flag(url, "url", call)
    breaks <- as_flag(breaks, "breaks", call)
    as <- as_choice(as, "as", c("raw", "string"), call)
    x <- as_text_or_values(x, as == "string", text_wanted, call)
    out <- .Call(tarnwick_base64_decode_options, x, url, breaks, as)
    if (!is.list(out)) return(out)
  }
  stop_malformed(out, call, url, breaks)
}

# What base64_decode() takes as text, for its argument error.
text_wanted <- "base64 text: a single string or a raw vector"

# `x` checked as the function's input: with `strings`, a raw vector or a character
# vector; otherwise bytes, which `what` describes.
as_text_or_values <- function(x, strings, what, call) {
  if (strings) as_values(x, "x", call) else as_bytes(x, "x", what, call)
}

# Stops, naming `call`, with the words for a decoder's `report` on a text decoded with
# `url` and `breaks`: the text `name`, or its element report$element. The report
# counts offsets from 1 in the text as given, line ends included.
stop_malformed <- function(report, call, url = FALSE, breaks = FALSE, name = "x") {
  if (!is.na(report$element)) name <- sprintf("%s[%.0f]", name, report$element)
  kind <- report$kind
  message <- if (kind == "nul") {
    paste("decodes to a NUL byte, which a string cannot hold",
      "(as = \"raw\" returns the bytes)")
  } else if (kind %in% c("length", "length_one_more")) {
    sprintf("is not base64 text: its length%s, %.0f, is %s",
      if (breaks) " without line ends" else "", report$characters,
      if (kind == "length") "not a multiple of 4" else "one more than a multiple of 4")
  } else {
    sprintf("is not base64 text: byte %.0f (0x%02x) %s", report$offset, report$byte,
      refusal(kind, report$byte, url, breaks))
  }
  message <- sprintf("`%s` %s", name, message)
  if (kind == "nul") stop(client_error(message, call))
  byte_fault <- kind %in% c("byte", "padding")
  stop(client_error(message, call, "client_malformed_base64",
    offset = if (byte_fault) report$offset else NA_real_,
    byte = if (byte_fault) report$byte else NA_integer_))
}

# Why a byte of a text is refused, where `kind` is "padding" or "byte".
refusal <- function(kind, byte, url, breaks) {
  if (kind == "padding") {
    return("is \"=\" out of place (padding is one or two \"=\" at the very end)")
  }
  alphabet <- if (url) "the URL-safe base64 alphabet" else "the base64 alphabet"
  hint <- if (!breaks && byte %in% c(0x0a, 0x0d)) {
    " (use breaks = TRUE for text with line breaks)"
  } else if (!url && byte %in% c(0x2d, 0x5f)) {
    " (use url = TRUE for the URL-safe alphabet)"
  } else if (!breaks && !url) {
    " (spaces and line breaks are not accepted)"
  } else {
    ""
  }
  paste0("is outside ", alphabet, hint)
}
