# The two commands: `make run` and `make test` (and `make bench`, `make cross`, `make cross-check`).
# JOBS=N sets the build's parallelism (default: the host's cores).
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR ?= OFF
BOARD ?= build/board

.PHONY: all run test bench clean release debug cross cross-check

all: release

release:
	cmake -S . -B build $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DMX_TESTS=OFF -DMX_WERROR=$(WERROR)
	cmake --build build -j $(JOBS)

debug:
	cmake -S . -B build/debug $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DMX_SANITIZE=ON -DMX_WERROR=$(WERROR)
	cmake --build build/debug -j $(JOBS)

# Starts the back end on the simulated board in $(BOARD) in real time (stop it with Ctrl-C). The
# board is kept: a later run is a warm restart with the settings backed up; POWER_ON=1 starts it
# after a power cycle; a new board directory starts from defaults.
run: release
	./build/backend --board $(BOARD) $(if $(filter 1,$(POWER_ON)),--power-on)

# Builds with the sanitizers and runs every test.
test: debug
	cd build/debug && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Each benchmark ends with a line per budget, "within" or "over"; a case over its budget fails. With
# valgrind on the machine the heavy frame's instructions are counted too (a fixed run of frames, so
# the figure does not follow the host's speed) and set against theirs.
bench:
	cmake -S . -B build/bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DMX_TESTS=OFF -DMX_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	status=0; for b in build/bench/bench_*; do $$b || status=1; done; \
	if command -v valgrind >/dev/null; then bench/heavy-frame-cost build/bench/bench_frame_bench || status=1; \
	else echo "heavy frame: instructions not counted (no valgrind on this machine)"; fi; exit $$status

# The target processor's build (Release, warnings as errors) in build/cross, with the cross
# compiler that cmake/arm-cortex-a9.cmake names. Nothing is installed here: a missing package is named.
CROSS_RUNNER := qemu-arm -L /usr/arm-linux-gnueabihf
CROSS_NEEDS = $(if $(shell command -v arm-linux-gnueabihf-g++),,g++-arm-linux-gnueabihf)
CHECK_NEEDS = $(CROSS_NEEDS) $(if $(shell command -v qemu-arm),,qemu-user)
need = @if [ -n "$(strip $(1))" ]; then echo "make $@ needs the packages: $(strip $(1))"; exit 1; fi

cross:
	$(call need,$(CROSS_NEEDS))
	cmake -S . -B build/cross $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/arm-cortex-a9.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DMX_TESTS=OFF -DMX_WERROR=ON
	cmake --build build/cross -j $(JOBS)

# The idle run (register trace and backup image) and every fuzz seed (register trace and answers)
# on the host's Release build and on the target's under qemu-arm, compared byte for byte.
cross-check:
	$(call need,$(CHECK_NEEDS))
	$(MAKE) --no-print-directory release cross
	bench/trace-guard build build/cross-check/host
	bench/trace-guard --runner "$(CROSS_RUNNER)" build/cross build/cross-check/target
	bench/trace-guard --compare build/cross-check/host build/cross-check/target
	@echo "cross-check: the target build writes the same registers, answers and backup image as the host's"

clean:
	rm -rf build
