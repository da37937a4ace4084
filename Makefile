# Entry points; each does its own set-up on a fresh Debian 12 machine.
.PHONY: test build dist demo bench fuzz format clean

test:  ## every test: native, sanitizers, Windows build under Wine
	scripts/test.sh

build:  ## the Windows executable: build/windows/src/app/didurozir.exe
	scripts/setup.sh
	scripts/build-win-boost.sh build/_deps/boost-win
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $$(nproc)

dist:  ## the release in dist/: stripped didurozir.exe (+ .debug), didurozir-messages.dll, the MSI, SHA256SUMS
	scripts/dist.sh

demo:  ## builds, then shows the watchdog freeing the agent's ports and restarting it, under Wine
	scripts/demo.sh

fuzz:  ## each fuzz target for FUZZ_SECONDS (default 60) with libFuzzer, from its stored corpus
	scripts/fuzz.sh $${FUZZ_SECONDS:-60}

bench:  ## benchmarks of the recovery data path and the idle cycle; writes docs/performance-rows.png
	scripts/bench.sh

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
