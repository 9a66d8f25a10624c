# Thin wrapper around CMake: `make`, `make test`, `make demo`, `make install`.
BUILD_DIR ?= build
PREFIX ?= /usr/local
PROGRAMS := Orvane Orvane-cv Orvane-folds Orvane-prepare Orvane-report

.PHONY: all build test demo install clean

# Leaves every program that was built in the repository root.
all: build
	@for p in $(PROGRAMS); do if [ -f $(BUILD_DIR)/app/$$p ]; then cp $(BUILD_DIR)/app/$$p ./$$p; fi; done

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j 2

test: all
	cd $(BUILD_DIR) && ctest --output-on-failure -j 2

demo: all
	./Orvane -train -d example/samples.txt -t example/tree.tre -l example/labels.txt -w 0.5 -lambda 1 -o example/out.txt
	./Orvane -test -d example/samples.txt -c example/out.txt -o example/result.txt
	@echo "Predicted class of each sample (example/result.txt):"
	@cat example/result.txt

# Programs into $(DESTDIR)$(PREFIX)/bin, manual pages into
# $(DESTDIR)$(PREFIX)/share/man/man1.
install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD_DIR) $(PROGRAMS)
