# The two commands: `make run` and `make test` (and `make bench`). JOBS=N sets the build's
# parallelism (default: the host's cores).
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR ?= OFF
BOARD ?= build/board

.PHONY: all run test bench clean release debug

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
# valgrind on the machine the heavy frame's instructions are counted too and set against theirs.
bench:
	cmake -S . -B build/bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DMX_TESTS=OFF -DMX_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	status=0; for b in build/bench/bench_*; do $$b || status=1; done; \
	if command -v valgrind >/dev/null; then bench/heavy-frame-cost build/bench/bench_frame_bench || status=1; \
	else echo "heavy frame: instructions not counted (no valgrind on this machine)"; fi; exit $$status

clean:
	rm -rf build
