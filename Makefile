# make test: install what is missing, build, run every test.
# make run:  install what is missing, build, start the application in demo mode.
# JOBS caps how many compilers, and then how many tests, run at once (make test JOBS=3); by
# default one per core this process may use. It wins over the test presets' own count.
PRESET ?= dev
JOBS ?= $(shell nproc)

.PHONY: test run build dependencies clean

test: build
	ctest --preset $(PRESET) --parallel $(JOBS)

build: dependencies
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) --parallel $(JOBS)

dependencies:
	./scripts/install-dependencies

run: build
	build/$(PRESET)/Sources/Quorvane/Views/quorvane --ui-demo

clean:
	rm -rf build
