// Progress of a long cross-validation for a person watching it: the
// harness's line per finished fit ("fit 12 of 400 done: ...", "outer fit 3
// of 6 done") becomes one line updated in place on a terminal, or a line at
// most every tenth of the fits otherwise, each with the time spent and an
// estimate of the time left. Every other line passes through unchanged.
#ifndef ORVANE_PROGRESS_H
#define ORVANE_PROGRESS_H

#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

class ProgressLines : public std::streambuf {
public:
    enum class Mode {
        EveryFit, // every line as it comes
        InPlace,  // one line rewritten after a carriage return
        Tenths,   // a line when a stage passes another tenth of its fits, and at its end
    };
    // `seconds` tells the time; the steady clock when not given.
    ProgressLines(std::ostream &out, Mode mode, std::function<double()> seconds = {});
    // Ends a line left open in place.
    ~ProgressLines() override;

    ProgressLines(const ProgressLines &) = delete;
    ProgressLines &operator=(const ProgressLines &) = delete;

protected:
    int overflow(int c) override;

private:
    void line(const std::string &text);
    void progress(const std::string &stage, long done, long total);
    void endOpenLine();

    std::ostream &out;
    Mode mode;
    std::function<double()> seconds;
    std::string pending;      // the line being collected
    std::string stage;        // "fit", "path", "inner fit", ...
    double stageStart = 0;
    int tenthShown = -1;
    std::size_t openLength = 0; // characters of the line left open in place, 0 for none
};

// "1:05" for 65 seconds, "1:01:05" past an hour.
std::string clockText(double seconds);

#endif
