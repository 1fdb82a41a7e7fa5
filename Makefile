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

.PHONY: run test build bootstrap asan tsan bench format screenshots install deb clean

run: build
	cd $(BUILD_DIR) && ./ornbrook

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bootstrap:
	@scripts/bootstrap

$(BUILD_DIR)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DORNBROOK_WERROR=ON

build: bootstrap $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

# AddressSanitizer + UndefinedBehaviorSanitizer build of the whole test suite.
asan: bootstrap
	cmake -S . -B $(ASAN_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DORNBROOK_WERROR=ON -DORNBROOK_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# ThreadSanitizer build of the layers whose work crosses threads: the checks and
# their engine (ftp, model), the window that receives their results (ui), the
# program's processes (app) and the programs run for new files (platform).
# ui_desktop is left out: it starts a D-Bus daemon with QProcess from a process
# that already runs threads, after which ThreadSanitizer reports races in code
# that plainly holds its lock; its logic runs on one thread.
tsan: bootstrap
	cmake -S . -B $(TSAN_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORNBROOK_WERROR=ON -DORNBROOK_TSAN=ON
	cmake --build $(TSAN_DIR) -j $(JOBS)
	QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$(CURDIR)/scripts/tsan.supp" \
		ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -L "ftp|model|ui|app|platform" -E ui_desktop $(CTEST_ARGS)

bench: build
	cmake --build $(BUILD_DIR) --target benchmarks -j $(JOBS)
	scripts/run-benchmarks $(BUILD_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

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
