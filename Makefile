# make test: install what is missing, build, run every test.
# make run:  install what is missing, build, start the application in demo mode.
PRESET ?= dev

.PHONY: test run build dependencies clean

test: build
	ctest --preset $(PRESET)

build: dependencies
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

dependencies:
	./scripts/install-dependencies

run: build
	build/$(PRESET)/Sources/Quorvane/Views/quorvane --ui-demo

clean:
	rm -rf build
