# The commands of the README: `make demo`, `make test`, `make install` and `make dist`.
.PHONY: all deps build test demo bench clean install dist kit

PREFIX ?= /usr/local

all: build

deps:
	@scripts/setup-machine.sh

build: deps
	@scripts/build.sh

test: build
	@scripts/test.sh

# Only what the demo uses: the tool, the 64-bit installer, uninstaller and demo program.
demo: deps
	@scripts/build.sh native zosetup-pack
	@scripts/build.sh win64 zosetup Uninstall ZoDemo
	@scripts/demo.sh

# The tool with both installer stubs and both uninstallers.
kit: deps
	@scripts/build.sh native zosetup-pack
	@scripts/build.sh win64 zosetup Uninstall
	@scripts/build.sh win32 zosetup Uninstall

install: kit
	@scripts/install.sh "$(DESTDIR)$(PREFIX)"

dist: kit
	@scripts/dist.sh

bench: deps
	@scripts/bench.sh

clean:
	rm -rf build
