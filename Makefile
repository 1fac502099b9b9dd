# The two front-door commands (make run, make test) and the developer extras.
.PHONY: run test build bench fuzz dist clean

run:
	./tools/run.sh

test:
	./tools/test.sh

build:
	./tools/build.sh

bench:
	./tools/bench.sh

fuzz:
	./tools/fuzz.sh

dist:
	./tools/dist.sh

clean:
	rm -rf build
