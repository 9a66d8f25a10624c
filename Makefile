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

# The example study from its own files to named predictions: Orvane-prepare,
# Orvane -train, Orvane-report. Built in its own folder, without the test suite.
DEMO_DIR ?= build-demo
DEMO_PROGRAMS := Orvane Orvane-prepare Orvane-report
demo:
	cmake -S . -B $(DEMO_DIR) -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF
	cmake --build $(DEMO_DIR) -j 2 $(addprefix --target ,$(DEMO_PROGRAMS))
	rm -rf $(DEMO_DIR)/study $(DEMO_DIR)/named
	$(DEMO_DIR)/app/Orvane-prepare -table example/study/table.tsv -metadata example/study/metadata.tsv \
	    -column SampleType -tree example/study/tree.nwk -taxonomy example/study/taxonomy.tsv -o $(DEMO_DIR)/study
	$(DEMO_DIR)/app/Orvane -train -d $(DEMO_DIR)/study/samples.txt -l $(DEMO_DIR)/study/labels.txt \
	    -t $(DEMO_DIR)/study/tree.tre -w 0.5 -lambda 1 -o $(DEMO_DIR)/study/model.txt >/dev/null
	$(DEMO_DIR)/app/Orvane-report -data $(DEMO_DIR)/study -c $(DEMO_DIR)/study/model.txt -o $(DEMO_DIR)/named
	@echo "The example's samples: their class, the class the model predicts, its probability"
	@echo "($(DEMO_DIR)/named/predictions.tsv has every class's):"
	@awk -F'\t' 'FNR == NR { if (FNR > 1) known[$$2] = $$3; next } \
	    FNR == 1 { for (i = 3; i <= NF; i++) column[$$i] = i; next } \
	    { printf "  %-10s %-20s -> %-20s %.3f\n", $$1, known[$$1], $$2, $$(column[$$2]) }' \
	    $(DEMO_DIR)/study/samples.tsv $(DEMO_DIR)/named/predictions.tsv
	@echo "Open $(DEMO_DIR)/named/report.html in a browser for the taxa, clades and tree."

# Programs into $(DESTDIR)$(PREFIX)/bin, manual pages into
# $(DESTDIR)$(PREFIX)/share/man/man1.
install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD_DIR) $(DEMO_DIR) $(PROGRAMS)
