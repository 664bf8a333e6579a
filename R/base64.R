# Base64 text to and from bytes: the standard or the URL-safe alphabet, with or without
# padding and line breaks, as raw vectors or strings. The two routines know only the
# standard alphabet, "=" padding and one line; every option is built around them here.

# Encodes a raw vector or a string's bytes; with as = "string", also each element of a
# character vector. Called with `x` alone it is one routine call, as it always was.
base64_encode <- function(x, url = FALSE, pad = TRUE, width = 0, eol = "\n",
                          as = c("raw", "string")) {
  if (nargs() == 1L) {
    # A plain raw vector skips the checker: on short input each call shows.
    if (!is.raw(x) || !is.null(attributes(x))) x <- as_bytes(x, "x")
    return(.Call(tarnwick_base64_encode, x))
  }
  url <- as_flag(url, "url")
  pad <- as_flag(pad, "pad")
  width <- as_width(width)
  eol <- as_eol(eol)
  as <- as_choice(as, "as", c("raw", "string"))
  if (as == "string") {
    x <- as_values(x, "x")
    if (is.character(x) && (length(x) != 1L || is.na(x))) {
      return(encode_strings(x, url, pad, width, eol))
    }
  }
  x <- as_bytes(x, "x")
  encode_text(x, url, pad, width, eol, string = as == "string")
}

# Decodes base64 text given as a string or a raw vector; with as = "string", also each
# element of a character vector. Returns the bytes, or stops naming the first byte that
# makes the text malformed, counted in the text as given. Without options the text must
# be standard, padded and on one line: a length that is not a multiple of 4, a byte
# outside the alphabet, or an "=" that is not padding (one or two at the very end) is
# refused. The routine never refuses anything, so its result is checked here: it stops
# at the first "=" and gives up at a bad byte, and each shows in its length.
base64_decode <- function(x, url = FALSE, breaks = FALSE, as = c("raw", "string")) {
  if (nargs() != 1L) {
    url <- as_flag(url, "url")
    breaks <- as_flag(breaks, "breaks")
    as <- as_choice(as, "as", c("raw", "string"))
    if (as == "string") {
      x <- as_values(x, "x")
      if (is.character(x) && (length(x) != 1L || is.na(x))) {
        return(decode_strings(x, url, breaks, sys.call()))
      }
    }
    text <- as_bytes(x, "x", "base64 text: a single string or a raw vector")
    bytes <- decode_text(text, url, breaks, sys.call())
    return(if (as == "string") as_string(bytes, "x", sys.call()) else bytes)
  }
  text <- if (is.raw(x) && is.null(attributes(x))) x else {
    as_bytes(x, "x", "base64 text: a single string or a raw vector")
  }
  n <- length(text)
  if (n %% 4 != 0) stop_malformed(text, sys.call())
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

# What a text being decoded is part of: `name` names it in errors; `offset` bytes and
# `characters` characters (line ends aside) come before it; only a `final` piece may
# end in padding or in an unfinished group.
piece_of <- function(name, offset = 0, characters = 0, final = TRUE) {
  list(name = name, offset = offset, characters = characters, final = final)
}
whole_text <- piece_of("x")
line_feed <- as.raw(0x0a)
carriage_return <- as.raw(0x0d)
standard_only <- charToRaw("+/")  # where the URL-safe alphabet has "-" and "_"
url_only <- charToRaw("-_")

# Indexed by a byte's value + 1: whether it is a character of the alphabet.
alphabet_table <- function(alphabet) {
  table <- logical(256)
  table[as.integer(charToRaw(alphabet)) + 1L] <- TRUE
  table
}
in_alphabet <- alphabet_table(
  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
in_url_alphabet <- alphabet_table(
  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_")

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

# Stops, naming `call`, at what makes `text` malformed under the options: its length
# (without line ends, with `breaks`), else the first byte that is neither in the
# alphabet, nor a line end with `breaks`, nor padding. Padding is one or two "=" that
# end the text (line ends aside) and make its length a multiple of 4; with `url` it may
# be left out, but a length of one more than a multiple of 4 never decodes. `piece` says
# what the text is part of (see piece_of()). Runs only on text known to be malformed.
stop_malformed <- function(text, call, url = FALSE, breaks = FALSE, piece = whole_text) {
  line_end <- if (breaks) text == line_feed | text == carriage_return else FALSE
  data_at <- if (breaks) which(!line_end) else seq_along(text)
  n <- length(data_at)
  final <- piece$final
  padding <- 0L
  if (final && n > 0L && text[data_at[n]] == pad_byte) {
    padding <- if (n > 1L && text[data_at[n - 1L]] == pad_byte) 2L else 1L
  }
  what <- sprintf("`%s` is not base64 text: ", piece$name)
  length_of <- sprintf("its length%s, %.0f,", if (breaks) " without line ends" else "",
    piece$characters + n)
  if (final && (!url || padding > 0L) && n %% 4 != 0) {
    stop(simpleError(paste0(what, length_of, " is not a multiple of 4"), call))
  }
  if (final && url && n %% 4 == 1) {
    stop(simpleError(paste0(what, length_of, " is one more than a multiple of 4"), call))
  }
  ok <- (if (url) in_url_alphabet else in_alphabet)[as.integer(text) + 1L] | line_end
  ok[data_at[n - seq_len(padding) + 1L]] <- TRUE
  at <- which.min(ok)
  why <- if (text[at] == pad_byte) {
    "is \"=\" out of place (padding is one or two \"=\" at the very end)"
  } else if (url) {
    "is outside the URL-safe base64 alphabet"
  } else if (breaks) {
    "is outside the base64 alphabet"
  } else {
    "is outside the base64 alphabet (spaces and line breaks are not accepted)"
  }
  stop(simpleError(sprintf("%sbyte %.0f (0x%02x) %s", what, at + piece$offset,
    as.integer(text[at]), why), call))
}

## ---- Encoding ----

# The encoding of `bytes` with the options applied, as a raw vector or a `string`.
# Every full-size vector that R code makes costs a page fault per 4 KiB, more than the
# encoding: the steps are chosen to make as few as they can.
encode_text <- function(bytes, url, pad, width, eol, string = FALSE) {
  text <- .Call(tarnwick_base64_encode, bytes)
  if (url) text <- replaced(text, standard_only, url_only)
  padding <- if (pad) 0L else padding_length(length(bytes))
  if (string || width > 0L) {
    # rawToChar() drops NUL bytes at the end: the padding goes without a copy.
    text[length(text) + 1L - seq_len(padding)] <- as.raw(0)
    text <- rawToChar(text)
    if (width > 0L) text <- in_lines(text, width, eol)
    return(if (string) text else charToRaw(text))
  }
  if (padding > 0L) length(text) <- length(text) - padding
  text
}

# How many "=" end the encoding of n bytes.
padding_length <- function(n) (3 - n %% 3) %% 3

# `text` with each byte of `from` replaced by the byte of `to` at the same place.
replaced <- function(text, from, to) {
  for (k in seq_along(from)) {
    text[grepRaw(from[k], text, fixed = TRUE, all = TRUE)] <- to[k]
  }
  text
}

# The strings of `text` broken into lines of `width` characters joined by `eol`, with
# no line end after the last.
in_lines <- function(text, width, eol) {
  gsub(sprintf("(.{%d})(?!$)", width), paste0("\\1", rawToChar(eol)), text, perl = TRUE)
}

# Encodes each element of a character vector, as its bytes; NA stays NA. One routine
# call for all: each element is filled to whole groups of 3 bytes with bytes whose high
# bits are zero, so that every character before the filling is the element's own and
# the characters of the filling are those that "=" replaces.
encode_strings <- function(x, url, pad, width, eol) {
  out <- rep(NA_character_, length(x))
  given <- !is.na(x)
  values <- x[given]
  Encoding(values) <- "bytes"  # pasted as they are, never translated
  n <- nchar(values, type = "bytes")
  filling <- padding_length(n)
  joined <- paste(paste0(values, c("", "\001", "\001\001")[filling + 1L]), collapse = "")
  text <- .Call(tarnwick_base64_encode, charToRaw(joined))
  spans <- (n + filling) %/% 3 * 4
  ends <- cumsum(spans)
  if (pad) {
    text[ends[filling > 0L]] <- pad_byte
    text[ends[filling == 2L] - 1L] <- pad_byte
  }
  if (url) text <- replaced(text, standard_only, url_only)
  encoded <- substring(rawToChar(text), ends - spans + 1, ends - if (pad) 0 else filling)
  if (width > 0L) encoded <- in_lines(encoded, width, eol)
  out[given] <- encoded
  out
}

## ---- Decoding ----

# Decodes `text` under the options, or stops naming its first offending byte. The text
# is brought to what base64_decode() takes without options, which decodes and checks
# it; a refusal is then explained on the text as given.
decode_text <- function(text, url, breaks, call, piece = whole_text) {
  standard <- as_standard(text, url, breaks, piece$final)
  decoded <- if (!is.null(standard)) tryCatch(base64_decode(standard), error = identity)
  if (is.raw(decoded)) return(decoded)
  stop_malformed(text, call, url, breaks, piece)
}

# `text` as standard base64 on one line, padded when `final` and free of "=" when not,
# or NULL when it cannot be: a byte of the standard alphabet in URL-safe text, a
# length that no padding completes.
as_standard <- function(text, url, breaks, final) {
  if (breaks) text <- without_line_ends(text)
  if (!final && length(grepRaw(pad_byte, text, fixed = TRUE)) > 0L) return(NULL)
  if (!url) return(text)
  for (byte in standard_only) {
    if (length(grepRaw(byte, text, fixed = TRUE)) > 0L) return(NULL)
  }
  text <- replaced(text, url_only, standard_only)
  n <- length(text)
  if (!final || (n > 0L && text[n] == pad_byte)) return(text)
  if (n %% 4 == 1) return(NULL)
  c(text, rep(pad_byte, (4 - n %% 4) %% 4))
}

# `text` without its line feeds and carriage returns. The bytes are taken out of the
# text as a string, by gsub(): R code that picks bytes out of a raw vector one by one
# takes ten times as long. A NUL byte, which no string holds, is kept and refused later.
without_line_ends <- function(text) {
  feeds <- length(grepRaw(line_feed, text, fixed = TRUE)) > 0L
  returns <- length(grepRaw(carriage_return, text, fixed = TRUE)) > 0L
  if (!feeds && !returns) return(text)
  if (length(grepRaw(as.raw(0), text, fixed = TRUE)) > 0L) {
    return(text[text != line_feed & text != carriage_return])
  }
  string <- rawToChar(text)
  if (feeds) string <- gsub("\n", "", string, fixed = TRUE, useBytes = TRUE)
  if (returns) string <- gsub("\r", "", string, fixed = TRUE, useBytes = TRUE)
  charToRaw(string)
}

# `bytes` as one string, or a stop naming `name` when a NUL byte, which no string can
# hold, is among them.
as_string <- function(bytes, name, call) {
  if (length(grepRaw(as.raw(0), bytes, fixed = TRUE)) > 0L) stop_nul(name, call)
  rawToChar(bytes)
}

stop_nul <- function(name, call) {
  stop(simpleError(sprintf(paste("`%s` decodes to a NUL byte, which a string cannot",
    "hold (as = \"raw\" returns the bytes)"), name), call))
}

# Decodes each element of a character vector into a string; NA stays NA. One routine
# call for all: each element, brought to standard text without its padding, is filled
# to whole groups with "A", which decodes to zero bits, and its bytes are cut out of
# the result. When that fails, the elements are decoded one by one up to the first
# malformed one, whose error names it.
decode_strings <- function(x, url, breaks, call) {
  out <- rep(NA_character_, length(x))
  given <- which(!is.na(x))
  values <- x[given]
  Encoding(values) <- "bytes"
  if (breaks) values <- gsub("[\r\n]", "", values, perl = TRUE)
  misfit <- url && any(grepl("[+/]", values, perl = TRUE))
  if (url) values <- chartr("-_", "+/", values)
  n <- nchar(values, type = "bytes")
  padding <- endsWith(values, "=") + endsWith(values, "==")
  data <- n - padding
  misfit <- misfit || any(if (url) padding > 0L & n %% 4 != 0 | data %% 4 == 1 else
    n %% 4 != 0)
  filling <- (4 - data %% 4) %% 4
  bytes <- if (!misfit) {
    joined <- paste(paste0(substr(values, 1L, data), strrep("A", filling)), collapse = "")
    tryCatch(base64_decode(charToRaw(joined)), error = function(e) NULL)
  }
  if (is.null(bytes)) stop_first_malformed(x, given, url, breaks, call)
  sizes <- (3 * data) %/% 4
  spans <- 3 * (data + filling) %/% 4
  starts <- cumsum(spans) - spans + 1
  nul <- grepRaw(as.raw(0), bytes, fixed = TRUE, all = TRUE)
  owner <- findInterval(nul, starts)
  own <- nul < starts[owner] + sizes[owner]
  if (any(own)) stop_nul(sprintf("x[%d]", given[owner[own][1L]]), call)
  bytes[nul] <- as.raw(1)  # filling only, cut away below
  joined <- rawToChar(bytes)
  Encoding(joined) <- "bytes"  # cut by bytes, not characters
  decoded <- substring(joined, starts, starts + sizes - 1)
  Encoding(decoded) <- "unknown"
  out[given] <- decoded
  out
}

# Decodes the elements `given` of `x` one by one and stops at the first that is
# malformed, naming it.
stop_first_malformed <- function(x, given, url, breaks, call) {
  for (i in given) {
    decode_text(charToRaw(x[[i]]), url, breaks, call, piece_of(sprintf("x[%d]", i)))
  }
  stop("internal error: no element of `x` is malformed")
}
