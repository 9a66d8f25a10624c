// Turns the per-fit progress lines of a cross-validation into a line updated
// in place, or one every tenth of the fits, with elapsed and remaining time.
#include "validation/Progress.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {

double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads "STAGE N of M done..." into its parts; false for any other line.
bool parseProgress(const std::string &text, std::string &stage, long &done, long &total)
{
    const std::string::size_type of = text.find(" of ");
    if (of == std::string::npos || of == 0 || !isDigit(text[of - 1]))
        return false;
    std::string::size_type first = of;
    while (first > 0 && isDigit(text[first - 1]))
        first--;
    std::string::size_type end = of + 4;
    while (end < text.size() && isDigit(text[end]))
        end++;
    if (end == of + 4 || text.compare(end, 5, " done") != 0 || (first > 0 && text[first - 1] != ' '))
        return false;
    stage = text.substr(0, first == 0 ? 0 : first - 1);
    done = std::atol(text.c_str() + first);
    total = std::atol(text.c_str() + of + 4);
    return total > 0 && done <= total;
}

} // namespace

std::string clockText(double seconds)
{
    const long whole = seconds > 0 ? std::lround(seconds) : 0;
    const long hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
    const std::string two = (rest < 10 ? "0" : "") + std::to_string(rest);
    if (hours == 0)
        return std::to_string(minutes) + ":" + two;
    return std::to_string(hours) + ":" + (minutes < 10 ? "0" : "") + std::to_string(minutes) + ":" + two;
}

ProgressLines::ProgressLines(std::ostream &out, Mode mode, std::function<double()> seconds)
    : out(out), mode(mode), seconds(seconds ? std::move(seconds) : steadySeconds)
{
    stageStart = this->seconds();
}

ProgressLines::~ProgressLines()
{
    if (!pending.empty())
        line(pending);
    endOpenLine();
}

int ProgressLines::overflow(int c)
{
    if (c == traits_type::eof())
        return traits_type::not_eof(c);
    if (c == '\n') {
        line(pending);
        pending.clear();
    } else {
        pending += static_cast<char>(c);
    }
    return c;
}

void ProgressLines::line(const std::string &text)
{
    std::string name;
    long done = 0, total = 0;
    if (mode == Mode::EveryFit || !parseProgress(text, name, done, total)) {
        endOpenLine();
        out << text << std::endl;
        return;
    }
    if (name != stage) {
        endOpenLine();
        stage = name;
        tenthShown = -1;
    }
    progress(name, done, total);
    if (done == total) {
        endOpenLine();
        stage.clear();
        stageStart = seconds();
    }
}

void ProgressLines::progress(const std::string &name, long done, long total)
{
    const int tenth = static_cast<int>(10 * done / total);
    if (mode == Mode::Tenths && tenth <= tenthShown && done < total)
        return;
    tenthShown = tenth;
    const double elapsed = seconds() - stageStart;
    std::string text = (name.empty() ? "fits" : name + "s") + ": " + std::to_string(done) + " of " +
                       std::to_string(total) + " done, " + clockText(elapsed) + " elapsed";
    if (done < total && done > 0)
        text += ", about " + clockText(elapsed * (total - done) / done) + " left";
    if (mode == Mode::Tenths) {
        out << text << std::endl;
        return;
    }
    const std::size_t length = text.size();
    if (length < openLength)
        text.append(openLength - length, ' ');
    out << '\r' << text << std::flush;
    openLength = length;
}

void ProgressLines::endOpenLine()
{
    if (openLength > 0)
        out << std::endl;
    openLength = 0;
}
