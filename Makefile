# Set-up, build, tests and demo for the client R package. Run as root on Debian 12.
R_LIB         := $(CURDIR)/.lib
ARM32_CACHE   ?= $(HOME)/.cache/client-arm32
ARM64_CACHE   ?= $(HOME)/.cache/client-arm64
CURRENT_R_CACHE ?= $(HOME)/.cache/client-current-r
STRICT        := $(CURDIR)/tools/Makevars.strict
# python3 plays the parent process in test_parent.R.
R_PACKAGES    := r-base-dev r-cran-tinytest python3
# clang-14 for libFuzzer; its runtime libraries come only as a recommendation, which
# --no-install-recommends skips, so libclang-rt-14-dev is named too.
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
FUZZ_SECONDS  ?= 60
RSCRIPT       := R_LIBS=$(R_LIB) Rscript --vanilla
VERSION        = $(shell sed -n 's/^Version: *//p' DESCRIPTION)

.PHONY: deps fuzz-deps valgrind-deps install test check rcmdcheck check-arm32 \
  check-arm64 check-current-r demo format format-check clean battery sanitize valgrind \
  fuzz robust harness harness-arm32 harness-arm64 harness-s390x bench bench-timers \
  bench-against count-calls count-instructions count-instructions-arm64

# Installs the Debian packages of $(1) that are missing; apt-get update only then.
define apt_install
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
	    apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call apt_install,$(R_PACKAGES))

fuzz-deps:
	$(call apt_install,$(FUZZ_PACKAGES))

valgrind-deps: deps
	$(call apt_install,valgrind)

install: deps
	@mkdir -p $(R_LIB)
	R_MAKEVARS_USER=$(STRICT) R CMD INSTALL --library=$(R_LIB) . >$(R_LIB)/install.log 2>&1 \
	  || { cat $(R_LIB)/install.log; exit 1; }
	@rm -f src/*.o src/*.so

test: install
	$(RSCRIPT) tools/run-tests.R

demo: install
	$(RSCRIPT) demo/reroute.R

# R CMD check --as-cran on the built tarball, offline, as check-current-r runs it under
# the newest R; any note, warning or error fails the target. pandoc lets it check that
# NEWS.md converts; without it the check notes that it could not.
rcmdcheck: deps
	$(call apt_install,pandoc)
	@rm -rf client.Rcheck client_*.tar.gz
	bash tools/current-r/steps.sh build
	bash tools/current-r/steps.sh check

# The codec's kernels against its scalar code and a plain model, outside R; built with
# the address and undefined-behaviour sanitizers so stray reads and writes fail it.
CODEC_SRC := $(wildcard src/b64_*.cpp)
TOOLS_CXX := g++ -std=c++17 -O2 -Wall -Wextra -pedantic -Werror
harness: deps
	@mkdir -p tools/build
	$(TOOLS_CXX) -fsanitize=address,undefined -fno-sanitize-recover=all \
	  -o tools/build/b64_harness tools/b64_harness.cpp $(CODEC_SRC)
	tools/build/b64_harness

# Builds the harness with the cross compiler $(1) into tools/build/b64_harness_$(2) and
# runs it under the user-mode emulator $(3).
define cross_harness
	$(call apt_install,g++-$(1) qemu-user)
	@mkdir -p tools/build
	$(1)-$(TOOLS_CXX) -static -o tools/build/b64_harness_$(2) tools/b64_harness.cpp \
	  $(CODEC_SRC)
	$(3) tools/build/b64_harness_$(2)
endef

# The same harness built for 32-bit ARM and run under qemu-arm: the NEON kernels.
harness-arm32:
	$(call cross_harness,arm-linux-gnueabihf,arm32,qemu-arm)

# The same for 64-bit ARM under qemu-aarch64: the AArch64 NEON kernels.
harness-arm64:
	$(call cross_harness,aarch64-linux-gnu,arm64,qemu-aarch64)

# The same for s390x under qemu-s390x: a big-endian CPU, where the scalar code alone
# runs and any byte-order assumption in it shows.
harness-s390x:
	$(call cross_harness,s390x-linux-gnu,s390x,qemu-s390x)

# The benchmarks time with bench::mark (r-cran-bench); the codec's peers come too.
BENCH_PACKAGES := r-cran-bench r-cran-base64enc r-cran-jsonlite

# Installs the peers when missing, then times the codec against them and the floor,
# prints the table and draws bench/throughput.png; BENCH_QUICK=1 for a short run.
bench: install
	$(call apt_install,$(BENCH_PACKAGES))
	$(RSCRIPT) bench/base64.R

# The batch timer that bench/ used to have against bench::mark, on the same calls.
bench-timers: install
	$(call apt_install,r-cran-bench)
	$(RSCRIPT) bench/timers.R

# The codec routines of this tree against those of the git revision BASELINE, built
# into tools/build/baseline and timed in the same R process.
bench-against: install
	$(call apt_install,r-cran-bench)
	$(build_baseline)
	$(RSCRIPT) bench/against.R tools/build/baseline/src \
	  tools/build/baseline/lib/client/libs/client.so

# Instructions per call of base64_decode() on short text, this tree against BASELINE:
# the R code around the routine, where timings drown in noise.
count-calls: install
	$(call apt_install,valgrind)
	$(build_baseline)
	@tools/count-calls tools/build/baseline/lib $(R_LIB)

# Builds and installs the git revision BASELINE into tools/build/baseline.
define build_baseline
	@test -n "$(BASELINE)" || { echo "usage: make $@ BASELINE=<git revision>"; exit 1; }
	@rm -rf tools/build/baseline && mkdir -p tools/build/baseline/src tools/build/baseline/lib
	git archive $(BASELINE) | tar -x -C tools/build/baseline/src
	R CMD INSTALL --library=tools/build/baseline/lib tools/build/baseline/src \
	  >tools/build/baseline/install.log 2>&1 || { cat tools/build/baseline/install.log; exit 1; }
endef

# Instructions per input byte of the scalar path at 1 MiB, counted by callgrind.
count-instructions:
	$(call apt_install,valgrind)
	@mkdir -p tools/build
	$(TOOLS_CXX) -DCLIENT_B64_SCALAR_ONLY -o tools/build/b64_count tools/b64_count.cpp \
	  $(CODEC_SRC)
	@tools/count-instructions tools/build/b64_count "scalar path"

# The same on 64-bit ARM, scalar path and NEON kernel, at 64 KiB: counted from
# qemu-aarch64's log of executed instructions (valgrind runs no arm64 code here).
count-instructions-arm64:
	$(call apt_install,g++-aarch64-linux-gnu qemu-user)
	@mkdir -p tools/build
	aarch64-linux-gnu-$(TOOLS_CXX) -static -DCLIENT_B64_SCALAR_ONLY \
	  -o tools/build/b64_count_arm64_scalar tools/b64_count.cpp $(CODEC_SRC)
	aarch64-linux-gnu-$(TOOLS_CXX) -static -o tools/build/b64_count_arm64 \
	  tools/b64_count.cpp $(CODEC_SRC)
	@tools/count-instructions tools/build/b64_count_arm64_scalar "scalar path" qemu-aarch64
	@tools/count-instructions tools/build/b64_count_arm64 "neon64 kernel" qemu-aarch64

# Every routine with arguments it cannot use, each call in a child R process.
battery: install
	$(RSCRIPT) tools/battery.R

# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	bash tools/sanitize.sh

# The test suite under valgrind; slow, so not part of check.
valgrind: valgrind-deps
	bash tools/valgrind.sh

# The base64 core against its model; make fuzz FUZZ_SECONDS=600 for a longer run.
fuzz: fuzz-deps
	bash tools/fuzz.sh $(FUZZ_SECONDS)

robust: battery sanitize fuzz

check: harness test rcmdcheck robust

# The test suite under a 32-bit ARM R run by qemu-arm, fetched into ARM32_CACHE (kept
# outside the tree: R CMD build copies the whole folder).
check-arm32: deps
	bash tools/cross/check.sh armhf $(ARM32_CACHE)

# The same under a 64-bit ARM R run by qemu-aarch64, fetched into ARM64_CACHE.
check-arm64: deps
	bash tools/cross/check.sh arm64 $(ARM64_CACHE)

# R CMD check --as-cran and the test suite under the newest R that Debian ships, in a
# Debian unstable root built into CURRENT_R_CACHE and kept there; the suite runs a
# second time without /proc.
check-current-r:
	bash tools/current-r/check.sh $(CURRENT_R_CACHE)

format:
	clang-format -i src/*.cpp src/*.h tools/*.cpp

format-check:
	clang-format --dry-run --Werror src/*.cpp src/*.h tools/*.cpp

clean:
	rm -rf $(R_LIB) client.Rcheck client_*.tar.gz src/*.o src/*.so tools/build
