# Base64 from file to file, a chunk at a time, so that memory stays bounded whatever
# the size of the file.

base64_encode_file <- function(input, output, url = FALSE, pad = TRUE, width = 0,
                               eol = "\n") {
  input <- as_path(input, "input")
  output <- as_path(output, "output")
  url <- as_flag(url, "url")
  pad <- as_flag(pad, "pad")
  width <- as_width(width)
  eol <- as_eol(eol)
  # Whole lines of text per chunk: the next chunk starts a line of its own.
  per_line <- if (width > 0L) width %/% 4L * 3L else 3L
  chunk <- max(per_line, encode_chunk %/% per_line * per_line)
  invisible(via_temporary(input, output, sys.call(), function(from, to) {
    written <- 0
    bytes <- readBin(from, "raw", chunk)
    repeat {
      following <- readBin(from, "raw", chunk)
      last <- length(following) == 0L
      text <- encode_text(bytes, url, pad || !last, width, eol)
      if (!last && width > 0L) text <- c(text, eol)
      writeBin(text, to)
      written <- written + length(text)
      if (last) return(written)
      bytes <- following
    }
  }))
}

base64_decode_file <- function(input, output, url = FALSE, breaks = FALSE) {
  input <- as_path(input, "input")
  output <- as_path(output, "output")
  url <- as_flag(url, "url")
  breaks <- as_flag(breaks, "breaks")
  call <- sys.call()
  invisible(via_temporary(input, output, call, function(from, to) {
    written <- 0
    piece <- piece_of("input", final = FALSE)
    text <- readBin(from, "raw", decode_chunk)
    repeat {
      more <- readBin(from, "raw", decode_chunk)
      piece$final <- length(more) == 0L
      # A piece that is not the last ends after a whole number of groups; the rest is
      # carried into the next.
      end <- if (piece$final) list(bytes = length(text)) else groups_end(text, breaks)
      decoded <- text
      length(decoded) <- end$bytes
      decoded <- decode_text(decoded, url, breaks, call, piece)
      writeBin(decoded, to)
      written <- written + length(decoded)
      if (piece$final) return(written)
      carried <- if (end$bytes < length(text)) text[(end$bytes + 1):length(text)]
      text <- c(carried, more)
      piece$offset <- piece$offset + end$bytes
      piece$characters <- piece$characters + end$characters
    }
  }))
}

encode_chunk <- 3 * 2^20  # bytes read at a time; their text takes 4 MiB
decode_chunk <- 4 * 2^20

# Where in `text` the last whole group of four characters ends, line ends aside: the
# bytes up to there, and the characters among them. With `breaks`, at the last line end
# that follows a whole group, if one does, so that the next piece starts a line.
groups_end <- function(text, breaks) {
  if (breaks) {
    ends <- sort(c(grepRaw(line_feed, text, fixed = TRUE, all = TRUE),
      grepRaw(carriage_return, text, fixed = TRUE, all = TRUE)))
    before <- ends - seq_along(ends)  # the characters before each line end byte
    last_of_run <- c(diff(ends) != 1L, TRUE)
    at <- which(last_of_run & before %% 4 == 0)
    if (length(at) > 0L) {
      at <- at[length(at)]
      return(list(bytes = ends[at], characters = before[at]))
    }
    characters <- (length(text) - length(ends)) %/% 4 * 4
    # Each line end before the last of those characters moves it one byte on.
    return(list(bytes = characters + sum(before < characters), characters = characters))
  }
  characters <- length(text) %/% 4 * 4
  list(bytes = characters, characters = characters)
}

# Runs write(from, to) with `from` a connection reading `input` and `to` one writing a
# new file beside `output`, which replaces `output` once write() has returned. However
# it fails, `output` stays as it was and the new file is removed. Returns the value of
# write(); errors name `call`.
via_temporary <- function(input, output, call, write) {
  if (!file.exists(input) || dir.exists(input) || file.access(input, 4L) != 0L) {
    stop(simpleError(sprintf("Cannot read `input` file %s",
      encodeString(input, quote = "\"")), call))
  }
  if (!dir.exists(dirname(output))) {
    stop(simpleError(sprintf("Cannot write `output` file %s: no such folder",
      encodeString(output, quote = "\"")), call))
  }
  temporary <- tempfile(paste0(".", basename(output), "-"), tmpdir = dirname(output))
  on.exit(unlink(temporary), add = TRUE)
  from <- file(input, "rb")
  on.exit(close(from), add = TRUE)
  to <- raise_as(call, file(temporary, "wb"))
  on.exit(close(to), add = TRUE)
  value <- write(from, to)
  flush(to)
  if (!file.rename(temporary, output)) {
    stop(simpleError(sprintf("Cannot replace `output` file %s",
      encodeString(output, quote = "\"")), call))
  }
  value
}
