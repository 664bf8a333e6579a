# base64_encode_file() and base64_decode_file(): chunk boundaries, errors with their
# offset in the file, and the output left as it was on failure.
source("helpers.R")
library(client)
folder <- tempfile("files-")
dir.create(folder)
input <- file.path(folder, "input")
text_file <- file.path(folder, "text")
back <- file.path(folder, "back")

## ---- every option, with chunks of a few bytes, as the functions for vectors ----
# The chunk sizes are made tiny in a child R, so that groups, lines, line ends and
# padding fall on every side of a chunk boundary.
got <- in_child(bquote({
  ns <- asNamespace("client")
  for (name in c("encode_chunk", "decode_chunk")) unlockBinding(name, ns)
  set.seed(11)
  differ <- character()
  for (trial in 1:200) {
    assign("encode_chunk", sample(1:40, 1), ns)
    assign("decode_chunk", sample(1:40, 1), ns)
    data <- as.raw(sample(0:255, sample(0:150, 1), TRUE))
    writeBin(data, .(input))
    url <- sample(c(TRUE, FALSE), 1)
    options <- list(url = url, pad = !url || sample(c(TRUE, FALSE), 1),
      width = sample(c(0, 4, 76), 1), eol = sample(c("\n", "\r\n"), 1))
    written <- withVisible(do.call(base64_encode_file, c(list(.(input), .(text_file)),
      options)))
    text <- readBin(.(text_file), "raw", 1e5)
    decoding <- list(url = url, breaks = options$width > 0)
    decoded <- do.call(base64_decode_file, c(list(.(text_file), .(back)), decoding))
    round_trip <- identical(readBin(.(back), "raw", 1e5), data) && decoded == length(data)
    # A damaged byte: refused, naming the byte that the function for vectors names.
    damaged <- text
    if (length(damaged) > 0) {
      damaged[sample(length(damaged), 1)] <- sample(charToRaw("!=A\n-+/_"), 1)
    }
    writeBin(damaged, .(text_file))
    from_file <- tryCatch({ do.call(base64_decode_file, c(list(.(text_file), .(back)),
      decoding)); "accepted" }, error = function(e) sub("`input`", "`x`",
      conditionMessage(e)))
    from_vector <- tryCatch({ do.call(base64_decode, c(list(damaged), decoding))
      "accepted" }, error = conditionMessage)
    # A file is read once, so a bad byte found on the way comes before its length.
    agree <- from_file == from_vector ||
      (grepl("its length", from_vector) && from_file != "accepted")
    if (!identical(text, do.call(base64_encode, c(list(data), options))) ||
        written$visible || written$value != length(text) || !round_trip || !agree) {
      differ <- c(differ, paste(trial, deparse1(options), from_file, from_vector))
    }
  }
  differ
}))
expect_identical(got$value, character(), info = paste(got$output, collapse = "\n"))

## ---- a failure leaves the output as it was, and no temporary file ----
writeBin(as.raw(1:10), input)
writeLines("the old output", back)
writeBin(charToRaw("AAAA!AAA"), text_file)
failures <- list(
  list(call = quote(base64_decode_file(text_file, back)),
    message = "`input` is not base64 text: byte 5 (0x21) is outside"),
  list(call = quote(base64_decode_file(file.path(folder, "none"), back)),
    message = "Cannot read `input` file"),
  list(call = quote(base64_encode_file(input, file.path(folder, "none", "out"))),
    message = "Cannot write `output` file"),
  list(call = quote(base64_encode_file(input, back, width = 3)),
    message = "`width` must be 0 or a positive multiple of 4, not 3"))
for (case in failures) {
  message <- tryCatch({ eval(case$call); "no error" }, error = conditionMessage)
  expect_true(startsWith(message, case$message), info = message)
  expect_identical(readLines(back), "the old output", info = deparse1(case$call))
  expect_identical(sort(dir(folder, all.files = TRUE, no.. = TRUE)),
    c("back", "input", "text"), info = deparse1(case$call))
}
unlink(folder, recursive = TRUE)

## ---- a file of 300 MB, with memory far below its size ----
if (long_tests()) {
  got <- in_child(quote({
    folder <- tempfile()
    dir.create(folder)
    paths <- file.path(folder, c("in", "text", "back"))
    system(sprintf("head -c 300000000 /dev/urandom > %s", paths[1]))
    invisible(gc(reset = TRUE))
    base64_encode_file(paths[1], paths[2], width = 76)
    base64_decode_file(paths[2], paths[3], breaks = TRUE)
    peak_mb <- gc()[2, 6]
    same <- unname(tools::md5sum(paths[1]) == tools::md5sum(paths[3]))
    unlink(folder, recursive = TRUE)
    list(same = same, peak_mb = peak_mb)
  }))
  expect_true(isTRUE(got$value$same), info = paste(got$output, collapse = "\n"))
  expect_true(isTRUE(got$value$peak_mb < 96), info = toString(got$value))
} else {
  skip_block(long_test_skipped("a file of 300 MB"))
}
