# knitr documents that show what C code and child programs print. knitr evaluates
# each chunk through its "evaluate" hook, which hands every expression to the evaluate
# package with an output handler, under a sink that collects R's output. The hook set
# here runs each chunk with descriptors 1 and 2 rerouted into one file and, while an
# expression runs, sinks R's own output into that file too, so that everything lands
# there in the order it was written. At each point where evaluate records something
# (the end of an expression, a message, a warning, an error, a new plot) what the file
# gained since the last point is written into evaluate's own sink, so it keeps its
# place among the rest.

knit_descriptors <- function() {
  if (!isTRUE(getOption("knitr.in.progress"))) return(invisible(FALSE))
  if (!requireNamespace("knitr", quietly = TRUE)) {
    stop(client_error("knit_descriptors() needs the knitr package", sys.call()))
  }
  hooks <- knitr::knit_hooks
  previous <- hooks$get("evaluate")
  if (!isTRUE(attr(previous, "client_descriptors"))) {
    hook <- function(code, ..., output_handler) {
      if (isFALSE(knitr::opts_current$get("descriptors"))) {
        return(previous(code, ..., output_handler = output_handler))
      }
      evaluate_with_descriptors(previous, code, output_handler, ...)
    }
    hooks$set(evaluate = structure(hook, client_descriptors = TRUE))
  }
  invisible(TRUE)
}

# Runs evaluate(code, ..., output_handler) with descriptors 1 and 2 in a temporary
# file, whose new bytes go into evaluate's sink at each of its recording points (see
# descriptor_handler()).
evaluate_with_descriptors <- function(evaluate, code, output_handler, ...) {
  state <- new.env(parent = emptyenv())
  state$file <- tempfile("knit-")
  file.create(state$file)
  state$con <- file(state$file, "rb")
  state$offset <- 0
  state$pushed <- FALSE
  state$expressions_left <- 0L
  on.exit(end_descriptor_file(state))
  on.exit(end_descriptor_file(state), add = TRUE)
  handler <- descriptor_handler(output_handler, state)
  hooks <- plot_hooks(function() relay_descriptor_output(state))
  on.exit(remove_plot_hooks(hooks), add = TRUE)
  value <- run_rerouted(sys.call(), both_to(state$file), evaluate(code, ...,
    output_handler = handler), divert = FALSE)
  value$value
}

# Stops the sink for R's output if it is still pushed, then closes the file and removes
# it, as a capture's (see discard()).
end_descriptor_file <- function(state) {
  suspendInterrupts(stop_r_output(state))
  discard(state)
}

# The output handler `handler` of knitr, with these around it: the source of each
# top-level expression starts R's output into the file; after each expression, the
# value is printed into the file and what the file gained is relayed; messages,
# warnings and errors relay it before evaluate records them.
descriptor_handler <- function(handler, state) {
  relay <- function(condition) relay_descriptor_output(state)
  relay_and_stop <- function(condition) {
    stop_r_output(state)
    relay_descriptor_output(state)
  }
  # evaluate 1.x records what a two-argument source handler returns, and the source
  # itself after one of one argument.
  source <- function(src, call = NULL) {
    result <- if (length(formals(handler$source)) > 1L) {
      handler$source(src, call)
    } else {
      handler$source(src)
      src
    }
    state$expressions_left <- count_expressions(src, call)
    start_r_output(state)
    result
  }
  value <- function(x, visible) {
    shown <- withVisible(withCallingHandlers(call_value_handler(handler, x, visible),
      message = relay, warning = relay))
    stop_r_output(state)
    relay_descriptor_output(state)
    state$expressions_left <- state$expressions_left - 1L
    if (state$expressions_left > 0L) start_r_output(state)
    if (shown$visible) shown$value else invisible(shown$value)
  }
  handlers <- list(source = source, text = handler$text, graphics = handler$graphics,
    message = handler$message, warning = handler$warning, error = handler$error,
    value = value)
  # Older versions of evaluate (0.14 in R 4.0's Debian) take no calling handlers:
  # there a condition comes before the descriptor output of its expression.
  if ("calling_handlers" %in% names(formals(evaluate::new_output_handler))) {
    handlers$calling_handlers <- c(list(message = relay, warning = relay,
      error = relay_and_stop), handler$calling_handlers)
  }
  do.call(evaluate::new_output_handler, handlers)
}

# Calls knitr's value handler as evaluate would, by the arguments it takes.
call_value_handler <- function(handler, x, visible) {
  if (length(formals(handler$value)) > 1L) {
    handler$value(x, visible)
  } else if (visible) {
    handler$value(x)
  } else {
    invisible(x)
  }
}

# How many expressions the source `src` of one top-level group holds: evaluate
# evaluates them one after another, calling the value handler after each. evaluate 1.x
# hands the parsed expressions over; earlier versions only the text.
count_expressions <- function(src, call) {
  if (!is.null(call)) return(length(call))
  parsed <- tryCatch(parse(text = src$src, keep.source = FALSE), error = function(e) NULL)
  max(length(parsed), 1L)
}

# Sinks R's output into the file, on top of evaluate's sink, unless it is there already.
start_r_output <- function(state) {
  suspendInterrupts(if (!state$pushed) {
    state$sink_con <- checked(.Call(tarnwick_fd_connection, 1L))
    withCallingHandlers(sink(state$sink_con), error = function(e) close(state$sink_con))
    state$depth <- sink.number()
    push_descriptor_sink()
    state$pushed <- TRUE
  })
}

# Takes the sink of start_r_output() off again, with any that code left above it.
stop_r_output <- function(state) {
  suspendInterrupts(if (state$pushed) {
    while (sink.number() >= state$depth) sink()
    pop_descriptor_sinks(state$depth - 1L)
    state$pushed <- FALSE
    close(state$sink_con)
  })
}

# Writes what the file gained since the last call into R's output as it stands: into
# evaluate's sink, since R's output into the file is stopped around it. A string cannot
# hold a NUL byte, so NULs are left out.
relay_descriptor_output <- function(state) {
  was_pushed <- state$pushed
  stop_r_output(state)
  size <- file.size(state$file)
  if (!is.na(size) && size > state$offset) {
    bytes <- readBin(state$con, "raw", n = size - state$offset)
    state$offset <- state$offset + length(bytes)
    cat(rawToChar(bytes[bytes != as.raw(0L)]))
  }
  if (was_pushed) start_r_output(state)
}

# Sets `relay` to run before each new plot, ahead of evaluate's own hooks, which record
# the plot before it; returns what remove_plot_hooks() needs.
plot_hooks <- function(relay) {
  names <- c("before.plot.new", "before.grid.newpage", "persp")
  for (name in names) setHook(name, relay, "prepend")
  list(names = names, relay = relay)
}

remove_plot_hooks <- function(hooks) {
  for (name in hooks$names) {
    kept <- Filter(function(f) !identical(f, hooks$relay), getHook(name))
    setHook(name, if (length(kept)) kept else NULL, "replace")
  }
}
