# Base64 from file to file: the routines read and write through buffers of a few MiB,
# so memory stays bounded whatever the size of the file.

base64_encode_file <- function(input, output, url = FALSE, pad = TRUE, width = 0,
                               eol = "\n") {
  input <- as_path(input, "input")
  output <- as_path(output, "output")
  url <- as_flag(url, "url")
  pad <- as_flag(pad, "pad")
  width <- as_width(width)
  eol <- as_eol(eol)
  invisible(via_temporary(input, output, sys.call(), function(paths, mode) {
    .Call(tarnwick_base64_encode_file, paths, mode, url, pad, width, eol)
  }))
}

base64_decode_file <- function(input, output, url = FALSE, breaks = FALSE) {
  input <- as_path(input, "input")
  output <- as_path(output, "output")
  url <- as_flag(url, "url")
  breaks <- as_flag(breaks, "breaks")
  call <- sys.call()
  invisible(via_temporary(input, output, call, function(paths, mode) {
    out <- .Call(tarnwick_base64_decode_file, paths, mode, url, breaks)
    if (is.list(out)) stop_malformed(out, call, url, breaks, "input")
    out
  }))
}

# Runs write(paths, mode), where paths holds `input`, a new file beside `output` for
# the routine to create, and how errors show the two paths, and mode is what `output`
# is to end with: the mode of the file it replaces, or that of a new file. The new file
# then replaces `output`. However it fails, also on an interrupt, `output` stays as it
# was and the new file is removed. Returns the value of write(); errors name `call`.
via_temporary <- function(input, output, call, write) {
  temporary <- tempfile(paste0(".", basename(output), "-"), tmpdir = dirname(output))
  on.exit(unlink(temporary))
  paths <- c(input, temporary, encodeString(c(input, output), quote = "\""))
  value <- tryCatch(write(paths, output_mode(output)), error = function(e) {
    reading <- startsWith(conditionMessage(e), "Cannot read `input`")
    stop(as_client_error(e, call, path = if (reading) input else output))
  })
  if (!file.rename(temporary, output)) {
    stop(client_error(sprintf("Cannot replace `output` file %s", paths[4]), call,
      path = output))
  }
  value
}

# The mode of `output` if it exists, else that of a new file: 0666 as the umask allows.
output_mode <- function(output) {
  mode <- if (file.exists(output)) file.mode(output) else {
    bitwAnd(strtoi("666", 8L), bitwNot(as.integer(Sys.umask(NA))))
  }
  as.integer(mode)
}
