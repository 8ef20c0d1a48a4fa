# Thin wrapper: bootstrap (installs what is missing), configure, build, test.
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
# Seconds per fuzz target: briefly inside `make test`, longer with `make fuzz`.
FUZZ_SECONDS ?= 15
JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure --no-tests=error

.PHONY: all bootstrap configure build test test-asan test-tsan test-fuzz fuzz bench soak run install deb clean

# The main job: the volume remote on 127.0.0.1:2800 (each datagram whole, each of its lines a
# command; commands from 127.0.0.1 only).
# Options for it: make run RUN_ARGS="--port 2801 --json"
RUN_ARGS ?=
PREFIX ?= /usr/local
DESTDIR ?=

all: build

bootstrap:
	@bash scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	ninja -C $(BUILD) -j$(JOBS)

# Everything: the normal build's unit and integration tests, then the unit tests again under the
# address and undefined-behaviour sanitizers, then a short run of each parser's fuzz target.
test: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)
	$(MAKE) test-asan
	$(MAKE) test-fuzz

test-asan: bootstrap
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined
	ninja -C $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ctest $(CTEST_FLAGS) -L unit

# libFuzzer targets need clang: a configuration of their own (fuzz/CMakeLists.txt).
test-fuzz: bootstrap
	cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DFUZZ_SECONDS=$(FUZZ_SECONDS)
	ninja -C $(FUZZ_BUILD) -j$(JOBS)
	cd $(FUZZ_BUILD) && ctest $(CTEST_FLAGS) -L fuzz

fuzz:
	$(MAKE) test-fuzz FUZZ_SECONDS=600

test-tsan: bootstrap
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread
	ninja -C $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && ctest $(CTEST_FLAGS) -L unit

# Builds only what it runs: the daemon and the libraries it loads, and qxudp for the README's
# try-out.
run: configure
	ninja -C $(BUILD) -j$(JOBS) qxvolumed qxudp
	@bash scripts/run-qxvolumed $(BUILD)/bin/qxvolumed $(RUN_ARGS)

# Programs, the two component packages with their headers, and the user service, under PREFIX
# (staged under DESTDIR when given).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Debian packages (libqx1, libqx-dev, qxvolumed) into $(BUILD)/packages; `make test` checks them
# with dpkg-deb and lintian (tests/apps/package_test.sh).
deb: build
	cd $(BUILD) && cpack -G DEB -B packages
	@ls -l $(BUILD)/packages/*.deb

# Sound benchmarks run beside a private sound server, never the machine's own.
bench: build
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; \
	  case $$b in *audio*|*mixer*) scripts/with-pulse $$b || exit 1;; *) $$b || exit 1;; esac; done

# Long checks (a few minutes): memory under a million datagrams per mode, hostile senders against
# a second sender's latency, a prompt SIGINT to qxudp under a flood; a private sound server
# stopped and resumed again and again under the volume back ends; and the daemon with its output
# closed or unread and its sound server stalled.
SOAK_DAEMON_CASES ?= closed_stdout unread_stdout
soak: build
	@for b in $(BUILD)/bin/soak_*; do echo "== $$b"; $$b || exit 1; done
	@echo "== qxvolumed: $(SOAK_DAEMON_CASES)"
	@scripts/with-pulse python3 tests/integration/qxvolumed_hostile.py $(BUILD)/bin/qxvolumed \
	  $(SOAK_DAEMON_CASES)
	@echo "== qxvolumed: its sound server stopped, on both paths"
	@scripts/with-pulse bash tests/integration/qxvolumed_stall.sh $(BUILD)/bin/qxvolumed

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
