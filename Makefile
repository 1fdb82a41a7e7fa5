# The two commands of the README: `make run` and `make test`.
# Both install what is missing, configure once and build incrementally.

BUILD_DIR  ?= build
ASAN_DIR   ?= build-asan
TSAN_DIR   ?= build-tsan
DEB_DIR    ?= build-deb
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
JOBS       ?= $(shell nproc)
CTEST_ARGS ?=
PREFIX     ?= /usr/local
# Each run leaves junit.xml in its build folder: the durations that
# scripts/test-timeouts turns into the tests' time limits.
CTEST      := QT_QPA_PLATFORM=offscreen ctest --output-on-failure --output-junit junit.xml -j $(JOBS)
# The floors whose work crosses threads, run under ThreadSanitizer: checks on
# worker threads (ftp, sftp, model), results on the window's thread (ui), the
# program's processes (app), the programs run for new files and the timers
# (platform), and the log and timing statistics that any thread may call (diag).
TSAN_LABELS := diag platform ftp sftp model ui app
empty :=
space := $(empty) $(empty)
TIDY_BASE  ?= $(shell cat .ci/tidy-base 2>/dev/null)

.PHONY: run test build bootstrap asan tsan bench format format-check tidy screenshots install deb clean

run: build
	cd $(BUILD_DIR) && ./ornbrook

test: build
	$(CTEST) --test-dir $(BUILD_DIR) $(CTEST_ARGS)

bootstrap:
	@scripts/bootstrap

$(BUILD_DIR)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DORNBROOK_WERROR=ON

build: bootstrap $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

# AddressSanitizer + UndefinedBehaviorSanitizer build of the whole test suite
# (the test programs and what they start, nothing else).
asan: bootstrap
	cmake -S . -B $(ASAN_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DORNBROOK_WERROR=ON -DORNBROOK_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j $(JOBS) --target test_programs
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		$(CTEST) --test-dir $(ASAN_DIR) $(CTEST_ARGS)

# ThreadSanitizer build of the tests of TSAN_LABELS, named whole (a label is
# matched exactly, never as part of another). ui_desktop is left out: it starts
# a D-Bus daemon with QProcess from a process that already runs threads, after
# which ThreadSanitizer reports races in code that plainly holds its lock; its
# logic runs on one thread.
tsan: bootstrap
	cmake -S . -B $(TSAN_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORNBROOK_WERROR=ON -DORNBROOK_TSAN=ON
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(addprefix test_programs_,$(TSAN_LABELS))
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$(CURDIR)/scripts/tsan.supp" \
		$(CTEST) --test-dir $(TSAN_DIR) -L "^($(subst $(space),|,$(TSAN_LABELS)))$$" -E ui_desktop $(CTEST_ARGS)

bench: build
	cmake --build $(BUILD_DIR) --target benchmarks -j $(JOBS)
	scripts/run-benchmarks $(BUILD_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# What CI asks of the committed files: formatted as `make format` leaves them.
format-check: bootstrap
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# clang-tidy (.clang-tidy) and clazy on the C++ files changed since TIDY_BASE,
# the last commit at which the whole tree was clean (.ci/tidy-base);
# `make tidy TIDY_BASE=` checks the whole tree (about 25 CPU minutes). What
# changed since the base grows with every merge: after a clean whole-tree run,
# `git rev-parse HEAD > .ci/tidy-base` moves it up.
tidy: build
	scripts/tidy $(BUILD_DIR) $(TIDY_BASE)

# The program, its desktop file, icon, AppStream metainfo, manual page, bash
# completion and systemd user unit under $(PREFIX)
# (DESTDIR=... stages it for a package).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# A Debian package of a release build without the tests, compiled with Debian's
# flags and hardening: $(DEB_DIR)/ornbrook_VERSION_ARCH.deb.
deb: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
# (no debugging information: the package strips it anyway)
deb: export DEB_CXXFLAGS_MAINT_STRIP = -g
deb: bootstrap
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
		cmake -S . -B $(DEB_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DORNBROOK_TESTS=OFF
	cmake --build $(DEB_DIR) -j $(JOBS)
	cd $(DEB_DIR) && cpack -G DEB

screenshots: build
	scripts/screenshots $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(DEB_DIR)
