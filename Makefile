# Thin wrapper around CMake: `make`, `make test`, `make demo`.
BUILD_DIR ?= build
PROGRAMS := Orvane Orvane-cv Orvane-folds Orvane-report

.PHONY: all build test demo clean

all: build
	@for p in $(PROGRAMS); do cp $(BUILD_DIR)/app/$$p ./$$p; done

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

clean:
	rm -rf $(BUILD_DIR) $(PROGRAMS)
