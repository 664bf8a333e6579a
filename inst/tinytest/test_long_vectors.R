# Raw vectors at the length limits: on 64-bit R longer than 2^31 - 1 bytes (about 5 GB of
# memory, 20 s of page faults); on 32-bit R a text that would pass the limit.
source("helpers.R")
if (!long_tests()) exit_file(long_test_skipped("vectors at the length limit, up to 5 GB"))
txt <- function(s) charToRaw(s)

## ---- longer than 2^31 - 1 bytes on 64-bit R ----
if (.Machine$sizeof.pointer == 8) {
  n <- 2^31 + 2
  big <- raw(n)
  big[c(1, n)] <- as.raw(c(0xfb, 0xff))
  text <- enc(big)
  expect_equal(length(text), 4 * ceiling(n / 3))
  expect_identical(text[c(1:4, length(text) - 3:0)], txt("+wAA/w=="))
  rm(big)
  back <- dec(text)
  rm(text)
  expect_equal(length(back), n)
  expect_identical(back[c(1, 2, n - 1, n)], as.raw(c(0xfb, 0, 0, 0xff)))
  rm(back)
  invisible(gc())
}

## ---- a text past the longest vector on 32-bit R ----
# 32-bit R caps vectors at 2^31 - 1 elements. The shortest input whose text does not fit
# (4 * 536870912 = 2^31 bytes) is refused with an R error: a length cast to R's 32-bit
# length type would turn negative instead. The input takes 1.5 GB of a 4 GB address
# space, so it is made in a fresh child R, where the space is not yet cut up.
if (.Machine$sizeof.pointer == 4) {
  got <- in_child(quote({
    big <- tryCatch(raw(3 * 536870911 + 1), error = function(e) NULL)
    if (is.null(big)) NA_character_ else tryCatch({
      .Call(client:::tarnwick_base64_encode, big)
      "no error"
    }, error = conditionMessage)
  }))
  if (identical(got$value, NA_character_)) {
    skip_block("a 1.5 GB input: this 32-bit R cannot allocate it")
  } else {
    expect_true(grepl(paste0("^", as_regex(paste("Cannot encode 1610612734 bytes:",
      "the text would exceed the longest raw vector @base64:"))), got$value),
      info = paste(got$value, got$output))
  }
}
