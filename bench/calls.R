# Calls base64_decode() of the package in LIBRARY CALLS times on the text of BYTES random
# bytes, for bench/count_calls, which counts the instructions of the process.
# Usage: R -f bench/calls.R --args LIBRARY CALLS BYTES
args <- commandArgs(TRUE)
library(client, lib.loc = args[1])
calls <- as.integer(args[2])
set.seed(1)
data <- as.raw(sample(0:255, as.integer(args[3]), TRUE))
text <- base64_encode(data)
stopifnot(identical(base64_decode(text), data))
call_repeatedly <- compiler::cmpfun(function(f, x, k) for (i in seq_len(k)) f(x))
call_repeatedly(base64_decode, text, calls)
