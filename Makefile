# Set-up entry points. `make run` and `make test` are all a newcomer needs.
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX  ?= /usr/local
CMAKE   ?= cmake

.PHONY: all deps build build-asan run test fuzz bench install clean

all: build

deps:
	@bash .ci/install-deps

build: deps
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	$(CMAKE) --build build/release -j$(JOBS)

build-asan: deps
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON
	$(CMAKE) --build build/asan -j$(JOBS)

test: build-asan
	cd build/asan && ctest --output-on-failure -j$(JOBS) --timeout 600

run: build
	@bash .ci/run-demo build/release

fuzz: deps
	CC=clang CXX=clang++ $(CMAKE) -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DVORN_FUZZ=ON
	$(CMAKE) --build build/fuzz -j$(JOBS) --target fuzz-targets
	@bash fuzz/run-all build/fuzz $${FUZZ_SECONDS:-60}

bench: build
	@for b in bench/*.sh; do echo "== $$b"; bash $$b build/release || exit 1; done

# PREFIX is compiled in (configuration and data paths) and DESTDIR, when set,
# stages every file under it, e.g. make install PREFIX=/usr DESTDIR=/tmp/stage.
install: build
	DESTDIR="$(DESTDIR)" $(CMAKE) --install build/release

clean:
	rm -rf build
