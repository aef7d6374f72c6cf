# The two commands of the README: `make demo` and `make test`.
.PHONY: all deps build test demo bench clean

all: build

deps:
	@scripts/setup-machine.sh

build: deps
	@scripts/build.sh

test: build
	@scripts/test.sh

demo: deps
	@scripts/build.sh native
	@scripts/build.sh win
	@scripts/build.sh win32  # the stub zosetup-pack takes by default
	@scripts/demo.sh

bench: deps
	@scripts/bench.sh

clean:
	rm -rf build
