# Set-up, build, tests, checks and benchmarks of the client R package. Run as root on
# Debian 12: every target installs the Debian packages it needs. `make help` lists them.
R_LIB           := $(CURDIR)/.lib
ARM32_CACHE     ?= $(HOME)/.cache/client-arm32
ARM64_CACHE     ?= $(HOME)/.cache/client-arm64
ARM64_CLANG_CACHE ?= $(HOME)/.cache/client-arm64-clang
S390X_CACHE     ?= $(HOME)/.cache/client-s390x
CURRENT_R_CACHE ?= $(HOME)/.cache/client-current-r
OLDEST_R_CACHE  ?= $(HOME)/.cache/client-oldest-r
STRICT          := $(CURDIR)/tools/Makevars.strict
# python3 plays the parent process in test_parent.R; knitr and markdown build the
# vignette, and the suite knits documents with them.
R_PACKAGES      := r-base-dev r-cran-tinytest python3 r-cran-knitr r-cran-markdown
# clang-14 for libFuzzer; its runtime libraries come only as a recommendation, which
# --no-install-recommends skips, so libclang-rt-14-dev is named too.
FUZZ_PACKAGES   := clang-14 libclang-rt-14-dev
# time: GNU time, which bench/base64_files.R measures whole processes with.
BENCH_PACKAGES  := r-cran-bench r-cran-base64enc r-cran-jsonlite time
FUZZ_SECONDS    ?= 60
RSCRIPT         := R_LIBS=$(R_LIB) Rscript --vanilla
CODEC_SRC       := $(wildcard src/b64_*.cpp)
TOOLS_CXX       := g++ -std=c++17 -O2 -Wall -Wextra -pedantic -Werror
# The harnesses' sanitizers; without recovery an undefined-behaviour report fails too.
SANITIZER_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all

.DEFAULT_GOAL := help
.PHONY: help deps install test demo check clean rcmdcheck harness battery sanitize tsan exports \
  valgrind fuzz robust check-arm32 check-arm64 check-current-r check-oldest-r harness-arm32 \
  harness-arm64 harness-s390x bench bench-against count-calls count-instructions \
  count-instructions-arm64 format format-check fuzz-deps valgrind-deps check-clang \
  check-lto check-gct check-arm64-clang check-s390x bench-tail

# Installs the Debian packages of $(1) that are missing.
define apt_install
	@bash tools/apt.sh $(1)
endef

# Installs the package $(3) into the library $(2), with the make variables of the file
# $(4) if given, its output in the file $(1), printed if the install fails. Stripped:
# a call split over lines starts an argument with a blank.
define r_cmd_install
	$(if $(strip $(4)),R_MAKEVARS_USER=$(strip $(4)) )R CMD INSTALL \
	  --library=$(strip $(2)) $(strip $(3)) >$(1) 2>&1 || { cat $(1); exit 1; }
endef

##@ Everyday
help: ## list the targets by section
	@awk 'BEGIN { FS = ":.*## " } \
	  /^##@ / { printf "\n%s\n", substr($$0, 5) } \
	  /^[a-z0-9-]+:.*## / { printf "  %-26s %s\n", $$1, $$2 }' $(MAKEFILE_LIST)

deps: ## install R, tinytest and python3 from Debian when missing
	$(call apt_install,$(R_PACKAGES))

install: deps ## build and install the package into .lib/ with strict warnings
	@mkdir -p $(R_LIB)
	$(call r_cmd_install,$(R_LIB)/install.log,$(R_LIB),.,$(STRICT))
	@rm -f src/*.o src/*.so

test: install ## the test suite, long tests included
	$(RSCRIPT) tools/run_tests.R

demo: install ## run demo/reroute.R
	$(RSCRIPT) demo/reroute.R

check: harness test exports rcmdcheck robust ## everything native: harness, suite, R CMD check, robustness

clean: ## remove build products
	rm -rf $(R_LIB) client.Rcheck client_*.tar.gz src/*.o src/*.so tools/build

##@ Checks that make check runs
exports: install ## each library exports exactly its entry and its routines
	bash tools/robustness/check_exports.sh $(R_LIB)/client/libs

# R CMD check --as-cran on the built tarball, offline, as check-current-r runs it under
# the newest R; any note, warning or error fails the target. pandoc lets it check that
# NEWS.md converts; without it the check notes that it could not. --as-cran wants qpdf
# to hand, whether or not there are PDFs. The vignette is R Markdown, made into HTML by
# knitr and markdown (deps), with no LaTeX.
rcmdcheck: deps ## R CMD check --as-cran --no-manual, offline; any note fails
	$(call apt_install,pandoc qpdf)
	@rm -rf client.Rcheck client_*.tar.gz
	bash tools/platforms/debian_r/steps.sh build
	bash tools/platforms/debian_r/steps.sh check

# Builds the harness with the sanitizers and the flags $(2) into
# tools/build/b64_harness$(1) and runs it.
define sanitized_harness
	$(TOOLS_CXX) $(SANITIZER_FLAGS) $(2) \
	  -o tools/build/b64_harness$(1) tools/codec/b64_harness.cpp $(CODEC_SRC)
	tools/build/b64_harness$(1)
endef

# Built with the address and undefined-behaviour sanitizers so that stray reads and
# writes fail it. The options code calls the codec, which runs the best kernel: built
# as the package and without kernels, and without the AVX-512 ones on a CPU that has
# them (elsewhere that build is the first again), the harness runs it over each kernel;
# the first build alone checks the kernels themselves.
harness: deps ## every codec kernel, and the options code over each, against a model
	@mkdir -p tools/build
	$(call sanitized_harness,,)
	$(call sanitized_harness,_scalar,-DCLIENT_B64_SCALAR_ONLY)
ifneq ($(shell grep -m 1 -o avx512vbmi /proc/cpuinfo 2>/dev/null),)
	$(call sanitized_harness,_no_avx512,-DCLIENT_B64_NO_AVX512)
else
	@echo "no AVX-512 VBMI here: the build without it is the first again, skipped"
endif

robust: battery sanitize tsan fuzz ## battery, sanitize, tsan and fuzz

battery: install ## every routine with arguments it cannot use, each call in a child R
	$(RSCRIPT) tools/robustness/battery.R

sanitize: deps ## the suite and the battery under ASan and UBSan
	bash tools/robustness/sanitize.sh

tsan: install ## the copier of split = TRUE alone, then the split tests, under ThreadSanitizer
	bash tools/robustness/tsan.sh

fuzz: fuzz-deps ## libFuzzer on the codec core and the options code, FUZZ_SECONDS (60) each
	bash tools/codec/fuzz.sh $(FUZZ_SECONDS)

fuzz-deps:
	$(call apt_install,$(FUZZ_PACKAGES))

##@ Slow checks
valgrind: valgrind-deps ## the suite under valgrind, child R processes traced
	bash tools/robustness/valgrind.sh

valgrind-deps: deps
	$(call apt_install,valgrind)

##@ Other platforms (CI runs these after check)
# Builds the harness with the cross compiler $(1) into tools/build/b64_harness_$(2) and
# runs it under the user-mode emulator $(3). One build: it checks the kernels against
# the scalar code and the options code over the kernels, so the options code over the
# scalar code alone, which `make harness` runs natively, adds nothing here.
define cross_harness
	$(call apt_install,g++-$(1) qemu-user)
	@mkdir -p tools/build
	$(1)-$(TOOLS_CXX) -static -o tools/build/b64_harness_$(2) tools/codec/b64_harness.cpp \
	  $(CODEC_SRC)
	$(3) tools/build/b64_harness_$(2)
endef

harness-arm32: ## the codec harness for armhf under qemu-arm (NEON)
	$(call cross_harness,arm-linux-gnueabihf,arm32,qemu-arm)

harness-arm64: ## the codec harness for arm64 under qemu-aarch64 (NEON)
	$(call cross_harness,aarch64-linux-gnu,arm64,qemu-aarch64)

harness-s390x: ## the codec harness on big-endian s390x under qemu-s390x
	$(call cross_harness,s390x-linux-gnu,s390x,qemu-s390x)

# The ARM R is fetched into the cache, kept outside the tree: R CMD build copies the
# whole folder.
check-arm32: deps ## the suite under Debian's armhf R, run by qemu-arm
	bash tools/platforms/cross/check.sh armhf $(ARM32_CACHE)

check-arm64: deps ## the suite under Debian's arm64 R, run by qemu-aarch64
	bash tools/platforms/cross/check.sh arm64 $(ARM64_CACHE)

check-current-r: ## R CMD check and the suite (without /proc) under Debian unstable's R
	bash tools/platforms/debian_r/check.sh unstable $(CURRENT_R_CACHE)

check-oldest-r: ## R CMD check and the suite (without /proc) under Debian 11's R 4.0
	bash tools/platforms/debian_r/check.sh bullseye $(OLDEST_R_CACHE)

##@ Other compilers and builds (CI runs check-clang, check-lto, check-gct)
CLANG_PACKAGES := clang libc++-dev libc++abi-dev libclang-rt-14-dev

check-clang: deps ## clang and libc++: the codec harness, then the suite, no warning
	$(call apt_install,$(CLANG_PACKAGES))
	@mkdir -p tools/build
	clang++ -std=c++17 -stdlib=libc++ -O2 -Wall -Wextra -pedantic -Werror \
	  $(SANITIZER_FLAGS) \
	  -o tools/build/b64_harness_clang tools/codec/b64_harness.cpp $(CODEC_SRC)
	tools/build/b64_harness_clang
	bash tools/platforms/check_build.sh clang

check-lto: deps ## gcc with link-time optimisation (-Werror=odr), then the suite
	bash tools/platforms/check_build.sh lto

check-gct: install ## every routine and exported function under gctorture, in child R
	$(RSCRIPT) tools/robustness/gctorture.R

# The compiler and C++ library of Apple silicon, with the NEON kernels.
check-arm64-clang: deps ## the suite under arm64 R, built by clang with libc++ (qemu)
	CLIENT_CROSS_COMPILER=clang bash tools/platforms/cross/check.sh arm64 $(ARM64_CLANG_CACHE)

check-s390x: deps ## the suite under Debian's s390x R, big-endian (qemu-s390x)
	bash tools/platforms/cross/check.sh s390x $(S390X_CACHE)

##@ Speed
bench: install ## the codec, files and capture_*() against their peers (BENCH_QUICK=1)
	$(call apt_install,$(BENCH_PACKAGES))
	$(RSCRIPT) bench/base64.R
	$(RSCRIPT) bench/base64_options.R
	$(RSCRIPT) bench/base64_files.R
	$(RSCRIPT) bench/capture.R
	$(RSCRIPT) bench/reroute.R
	$(RSCRIPT) bench/front_ends.R

bench-against: install ## this tree's codec against BASELINE=<git revision>, one process
	$(call apt_install,r-cran-bench)
	$(build_baseline)
	$(RSCRIPT) bench/against.R tools/build/baseline/src \
	  tools/build/baseline/lib/client/libs/client.so

# The variant without the huge-page advice is built for this benchmark alone.
bench-tail: install ## the slowest large codec calls in fresh processes, advice or none (TAIL_N)
	@rm -rf tools/build/tail && mkdir -p tools/build/tail/lib
	@printf 'CPPFLAGS += -DCLIENT_NO_HUGEPAGE_ADVICE\n' >tools/build/tail/Makevars
	$(call r_cmd_install,tools/build/tail/install.log,tools/build/tail/lib,., \
	  $(CURDIR)/tools/build/tail/Makevars)
	@rm -f src/*.o src/*.so
	Rscript --vanilla bench/tail.R advice=$(R_LIB) none=tools/build/tail/lib

# Timers cannot see a few hundred instructions in a call of a few microseconds.
count-calls: install ## instructions per base64_decode() call on short text, against BASELINE
	$(call apt_install,valgrind)
	$(build_baseline)
	@bench/count_calls tools/build/baseline/lib $(R_LIB)

# Builds and installs the git revision BASELINE into tools/build/baseline.
define build_baseline
	@test -n "$(BASELINE)" || { echo "usage: make $@ BASELINE=<git revision>"; exit 1; }
	@rm -rf tools/build/baseline && mkdir -p tools/build/baseline/src tools/build/baseline/lib
	git archive $(BASELINE) | tar -x -C tools/build/baseline/src
	$(call r_cmd_install,tools/build/baseline/install.log,tools/build/baseline/lib, \
	  tools/build/baseline/src)
endef

count-instructions: ## instructions per byte of the scalar codec, by callgrind
	$(call apt_install,valgrind)
	@mkdir -p tools/build
	$(TOOLS_CXX) -DCLIENT_B64_SCALAR_ONLY -o tools/build/b64_count bench/b64_count.cpp \
	  $(CODEC_SRC)
	@bench/count_instructions tools/build/b64_count "scalar path"

# valgrind runs no arm64 code here: qemu-aarch64's log of executed instructions counts.
count-instructions-arm64: ## the same on arm64, scalar and NEON, under qemu-aarch64
	$(call apt_install,g++-aarch64-linux-gnu qemu-user)
	@mkdir -p tools/build
	aarch64-linux-gnu-$(TOOLS_CXX) -static -DCLIENT_B64_SCALAR_ONLY \
	  -o tools/build/b64_count_arm64_scalar bench/b64_count.cpp $(CODEC_SRC)
	aarch64-linux-gnu-$(TOOLS_CXX) -static -o tools/build/b64_count_arm64 \
	  bench/b64_count.cpp $(CODEC_SRC)
	@bench/count_instructions tools/build/b64_count_arm64_scalar "scalar path" qemu-aarch64
	@bench/count_instructions tools/build/b64_count_arm64 "neon64 kernel" qemu-aarch64

##@ Style
CXX_FILES := $(wildcard src/*.cpp src/*.h tools/codec/*.cpp tools/codec/*.h \
  tools/codec/fuzz/*.cpp bench/*.cpp)
format: ## clang-format the C++ sources in place
	$(call apt_install,clang-format)
	clang-format -i $(CXX_FILES)

format-check: ## fail if clang-format would change anything
	$(call apt_install,clang-format)
	clang-format --dry-run --Werror $(CXX_FILES)
