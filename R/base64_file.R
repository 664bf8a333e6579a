# Base64 from file to file: the routines read and write through buffers of 96 and 128
# KiB, so memory stays bounded whatever the size of the file. They decide how the
# output is written: a regular file is replaced once complete, a link is followed to
# its target, and a pipe or device is written as a stream.

base64_encode_file <- function(input, output, url = FALSE, pad = TRUE, width = 0,
                               eol = "\n") {
  input <- as_path(input, "input")
  output <- as_path(output, "output")
  url <- as_flag(url, "url")
  pad <- as_flag(pad, "pad")
  width <- as_width(width)
  eol <- as_eol(eol)
  invisible(run_file_routine(input, output, sys.call(), function(paths) {
    .Call(tarnwick_base64_encode_file, paths, url, pad, width, eol)
  }))
}

base64_decode_file <- function(input, output, url = FALSE, breaks = FALSE) {
  input <- as_path(input, "input")
  output <- as_path(output, "output")
  url <- as_flag(url, "url")
  breaks <- as_flag(breaks, "breaks")
  call <- sys.call()
  invisible(run_file_routine(input, output, call, function(paths) {
    out <- .Call(tarnwick_base64_decode_file, paths, url, breaks)
    if (is.list(out) && !is_fault(out)) stop_malformed(out, call, url, breaks, "input")
    out
  }))
}

# Runs routine(paths), where paths holds `input`, `output` and how errors show the two.
# Returns its value; a fault is raised as an error of `call` naming the file it
# concerns.
run_file_routine <- function(input, output, call, routine) {
  paths <- c(input, output, encodeString(c(input, output), quote = "\""))
  out <- routine(paths)
  if (is_fault(out)) {
    stop(fault_error(out, call, path = if (identical(out$subject, "input")) input else output))
  }
  out
}
