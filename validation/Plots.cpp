// The two plots of a cross-validation run as self-contained SVG: the error
// curve against lambda (log axis when every lambda is above 0), one line per
// w with standard-error bars, and the confusion matrix as a heat map.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "io/text.h"
#include "validation/Summary.h"

namespace {

const char *const palette[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                               "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};
// With the colours, a dash pattern per round of the palette and a marker
// shape: the first 32 values of w differ in colour and dash, and
// neighbours in marker too.
const char *const dashes[] = {"", "6,3", "2,2", "8,3,2,3"};
const int nMarkers = 4;

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string header(double width, double height)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" viewBox=\"0 0 " + number(width) + " " + number(height) +
           "\" font-family=\"sans-serif\" font-size=\"12\">\n"
           "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

std::string text(double x, double y, const std::string &content, const std::string &extra = "")
{
    return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\"" + extra + ">" +
           xmlText(content) + "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const std::string &stroke)
{
    return "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
           "\" y2=\"" + number(y2) + "\" stroke=\"" + stroke + "\"/>\n";
}

std::string dashAttribute(const std::string &dash)
{
    return dash.empty() ? "" : " stroke-dasharray=\"" + dash + "\"";
}

// A filled circle, square, triangle or diamond of about 6 px centred on (x, y).
std::string marker(int shape, double x, double y, const std::string &colour)
{
    const std::string fill = "\" fill=\"" + colour + "\"/>\n";
    switch (shape) {
    case 0:
        return "<circle cx=\"" + number(x) + "\" cy=\"" + number(y) + "\" r=\"3" + fill;
    case 1:
        return "<rect x=\"" + number(x - 3) + "\" y=\"" + number(y - 3) + "\" width=\"6\" height=\"6" + fill;
    case 2:
        return "<polygon points=\"" + number(x) + "," + number(y - 4) + " " + number(x - 4) + "," +
               number(y + 3) + " " + number(x + 4) + "," + number(y + 3) + fill;
    default:
        return "<polygon points=\"" + number(x) + "," + number(y - 4) + " " + number(x + 4) + "," +
               number(y) + " " + number(x) + "," + number(y + 4) + " " + number(x - 4) + "," + number(y) +
               fill;
    }
}

// White for a share of 0, dark blue for 1.
std::string shade(double share)
{
    const int red = static_cast<int>(std::lround(255 - share * (255 - 8)));
    const int green = static_cast<int>(std::lround(255 - share * (255 - 48)));
    const int blue = static_cast<int>(std::lround(255 - share * (255 - 107)));
    char fill[8];
    std::snprintf(fill, sizeof fill, "#%02x%02x%02x", red, green, blue);
    return fill;
}

// Tick values for [low, high]: multiples of 1, 2 or 5 times a power of ten,
// the finest such step giving at most `most` ticks.
std::vector<double> niceTicks(double low, double high, int most)
{
    std::vector<double> ticks;
    if (!(high >= low) || !std::isfinite(low) || !std::isfinite(high))
        return ticks;
    if (high == low)
        return {low};
    const double power = std::pow(10.0, std::floor(std::log10((high - low) / most)));
    double step = power;
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (std::floor(high / step + 1e-9) - std::ceil(low / step - 1e-9) + 1 <= most)
            break;
    }
    for (double t = std::ceil(low / step - 1e-9); t <= std::floor(high / step + 1e-9); t++)
        ticks.push_back(t * step == 0 ? 0.0 : t * step);
    return ticks;
}

// A tick's label: at most three significant digits.
std::string tickText(double value)
{
    char label[32];
    std::snprintf(label, sizeof label, "%.3g", value);
    return label;
}

// Whether each w has lambda values of its own (as with -lambda auto).
bool gridPerW(const CvSummary &summary)
{
    std::map<float, std::vector<float>> lambdasOfW;
    for (const PointSummary &p : summary.points)
        lambdasOfW[p.w].push_back(p.lambda);
    for (const auto &entry : lambdasOfW)
        if (entry.second != lambdasOfW.begin()->second)
            return true;
    return false;
}

// The largest lambda of each w's grid: lambda_max when the grid was made from it.
std::map<float, float> largestLambdas(const CvSummary &summary)
{
    std::map<float, float> largest;
    for (const PointSummary &p : summary.points)
        largest[p.w] = largest.count(p.w) ? std::max(largest[p.w], p.lambda) : p.lambda;
    return largest;
}

// A linear map from [from0, from1] onto [to0, to1]; a one-value range maps to the middle.
struct Scale {
    double from0, from1, to0, to1;
    double operator()(double v) const
    {
        if (from1 == from0)
            return (to0 + to1) / 2;
        return to0 + (v - from0) / (from1 - from0) * (to1 - to0);
    }
};

} // namespace

namespace {

// Where the curve plot puts things, and how lambda maps to its x axis.
struct CurveFrame {
    double width = 860, height = 460;
    double left = 70, right = 600, top = 40, bottom = 390;
    bool logAxis = false;
    bool relative = false; // x is lambda / (the largest lambda of its w)
    std::map<float, float> largest;
    Scale x{0, 1, 0, 1}, y{0, 1, 0, 1};
    std::vector<double> yTicks;

    double xOf(const PointSummary &p) const
    {
        const double lambda = relative ? static_cast<double>(p.lambda) / largest.at(p.w) : p.lambda;
        return logAxis ? std::log10(lambda) : lambda;
    }
};

std::vector<float> wsOf(const CvSummary &summary)
{
    std::vector<float> ws;
    for (const PointSummary &p : summary.points)
        if (std::find(ws.begin(), ws.end(), p.w) == ws.end())
            ws.push_back(p.w);
    return ws;
}

std::string choiceText(const char *name, const PointSummary &p)
{
    return std::string(name) + " (w " + tickText(p.w) + ", lambda " + tickText(p.lambda) + ")";
}

// The frame: x spans the points, y the points with their bars and the reference line.
CurveFrame curveFrame(const CvSummary &summary, double majorityError)
{
    CurveFrame frame;
    frame.relative = gridPerW(summary);
    frame.largest = largestLambdas(summary);
    frame.logAxis = !summary.points.empty();
    for (const PointSummary &p : summary.points)
        frame.logAxis = frame.logAxis && p.lambda > 0;
    double xLeast = 0, xMost = 0, yLeast = 1, yMost = 0;
    bool any = false;
    for (const PointSummary &p : summary.points) {
        const double x = frame.xOf(p);
        xLeast = any ? std::min(xLeast, x) : x;
        xMost = any ? std::max(xMost, x) : x;
        any = true;
        const double spread = std::isfinite(p.stdError) ? p.stdError : 0.0;
        if (std::isfinite(p.meanError)) {
            yLeast = std::min(yLeast, p.meanError - spread);
            yMost = std::max(yMost, p.meanError + spread);
        }
    }
    if (std::isfinite(majorityError)) {
        yLeast = std::min(yLeast, majorityError);
        yMost = std::max(yMost, majorityError);
    }
    if (yLeast > yMost)
        yLeast = 0, yMost = 1;
    const double margin = std::max(0.02, (yMost - yLeast) * 0.1);
    const double yLow = std::max(0.0, yLeast - margin), yHigh = std::min(1.0, yMost + margin);
    frame.yTicks = niceTicks(yLow, yHigh, 8);
    const double pad = xMost > xLeast ? (xMost - xLeast) * 0.05 : 0.0;
    frame.x = Scale{xLeast - pad, xMost + pad, frame.left, frame.right};
    frame.y = Scale{yLow, yHigh, frame.bottom, frame.top};
    // Wide and tall enough for the legend: a line per w and the two choices.
    std::size_t longest = 12;
    if (!summary.points.empty())
        longest = std::max(choiceText("min", summary.points[summary.minPoint]).size(),
                           choiceText("1se", summary.points[summary.oneSePoint]).size());
    frame.width = std::max(860.0, frame.right + 50 + 7.0 * longest + 10);
    frame.height = std::max(460.0, frame.top + 18.0 * wsOf(summary).size() + 70);
    return frame;
}

// Tick values of the x axis, in axis units: powers of ten (with 2 and 5
// between them over few decades) on a log axis, nice steps otherwise.
std::vector<double> xTicks(const CurveFrame &frame)
{
    const double low = std::min(frame.x.from0, frame.x.from1), high = std::max(frame.x.from0, frame.x.from1);
    if (!frame.logAxis)
        return niceTicks(low, high, 8);
    std::vector<double> ticks;
    const int first = static_cast<int>(std::floor(low)), last = static_cast<int>(std::ceil(high));
    const int stride = std::max(1, (last - first + 7) / 8);
    const bool between = last - first <= 2;
    for (int e = first; e <= last; e += stride)
        for (const double factor : {1.0, 2.0, 5.0}) {
            if (factor != 1.0 && !between)
                continue;
            const double at = e + std::log10(factor);
            if (at >= low - 1e-9 && at <= high + 1e-9)
                ticks.push_back(at);
        }
    if (ticks.empty()) // a range within one decade's steps: its ends
        ticks = {low, high};
    return ticks;
}

void drawAxes(std::ostringstream &svg, const CurveFrame &frame, double majorityError)
{
    const double left = frame.left, right = frame.right, top = frame.top, bottom = frame.bottom;
    svg << text(left, 24, "Cross-validation error", " font-size=\"15\"");
    svg << line(left, bottom, right, bottom, "black") << line(left, bottom, left, top, "black");
    for (const double value : frame.yTicks) {
        const double y = frame.y(value);
        svg << line(left - 4, y, left, y, "black") << line(left, y, right, y, "#e0e0e0");
        svg << text(left - 8, y + 4, tickText(value), " text-anchor=\"end\"");
    }
    for (const double value : xTicks(frame)) {
        const double x = frame.x(value);
        svg << line(x, bottom, x, bottom + 4, "black");
        svg << text(x, bottom + 18, tickText(frame.logAxis ? std::pow(10.0, value) : value),
                    " text-anchor=\"middle\"");
    }
    const std::string quantity = frame.relative ? "lambda / lambda_max of each w" : "lambda";
    svg << text((left + right) / 2, bottom + 42, frame.logAxis ? quantity + " (log scale)" : quantity,
                " text-anchor=\"middle\"");
    svg << text(18, (top + bottom) / 2, "mean error \u00b1 standard error",
                " text-anchor=\"middle\" transform=\"rotate(-90 18 " + number((top + bottom) / 2) + ")\"");
    if (std::isfinite(majorityError)) {
        const double y = frame.y(majorityError);
        svg << "<line x1=\"" << number(left) << "\" y1=\"" << number(y) << "\" x2=\"" << number(right)
            << "\" y2=\"" << number(y) << "\" stroke=\"#555555\" stroke-dasharray=\"2,3\"/>\n";
        svg << text(right - 4, y - 4, "always the majority class: " + tickText(majorityError),
                    " text-anchor=\"end\" fill=\"#555555\" font-size=\"11\"");
    }
}

// One line per w, through its points in increasing lambda, with its legend entry.
void drawLines(std::ostringstream &svg, const CurveFrame &frame, const CvSummary &summary)
{
    const std::vector<float> ws = wsOf(summary);
    for (std::size_t v = 0; v < ws.size(); v++) {
        const std::string colour = palette[v % 8];
        const std::string dash = dashes[v / 8 % 4];
        const int shape = static_cast<int>(v % nMarkers);
        std::vector<const PointSummary *> points;
        for (const PointSummary &p : summary.points)
            if (p.w == ws[v] && std::isfinite(p.meanError))
                points.push_back(&p);
        std::stable_sort(points.begin(), points.end(),
                         [](const PointSummary *a, const PointSummary *b) { return a->lambda < b->lambda; });
        std::string path;
        for (const PointSummary *p : points) {
            const double x = frame.x(frame.xOf(*p)), y = frame.y(p->meanError);
            path += (path.empty() ? "" : " ") + number(x) + "," + number(y);
            if (std::isfinite(p->stdError)) {
                const double y0 = frame.y(p->meanError - p->stdError), y1 = frame.y(p->meanError + p->stdError);
                svg << line(x, y0, x, y1, colour) << line(x - 3, y0, x + 3, y0, colour)
                    << line(x - 3, y1, x + 3, y1, colour);
            }
            svg << marker(shape, x, y, colour);
        }
        svg << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"1.5\"" << dashAttribute(dash)
            << " points=\"" << path << "\"/>\n";
        const double legendY = frame.top + 10 + 18 * v;
        svg << "<line x1=\"" << number(frame.right + 20) << "\" y1=\"" << number(legendY) << "\" x2=\""
            << number(frame.right + 44) << "\" y2=\"" << number(legendY) << "\" stroke=\"" << colour
            << "\" stroke-width=\"1.5\"" << dashAttribute(dash) << "/>\n";
        svg << marker(shape, frame.right + 32, legendY, colour);
        svg << text(frame.right + 50, legendY + 4, "w = " + shortestText(ws[v]));
    }
}

// The two choices: a ring for the least mean error, a square for one standard error.
void drawChoices(std::ostringstream &svg, const CurveFrame &frame, const CvSummary &summary)
{
    const PointSummary &least = summary.points[summary.minPoint];
    const PointSummary &simple = summary.points[summary.oneSePoint];
    if (std::isfinite(least.meanError))
        svg << "<circle cx=\"" << number(frame.x(frame.xOf(least))) << "\" cy=\"" << number(frame.y(least.meanError))
            << "\" r=\"8\" fill=\"none\" stroke=\"black\" stroke-width=\"2\"/>\n";
    if (std::isfinite(simple.meanError))
        svg << "<rect x=\"" << number(frame.x(frame.xOf(simple)) - 6) << "\" y=\""
            << number(frame.y(simple.meanError) - 6) << "\" width=\"12\" height=\"12\" "
            << "fill=\"none\" stroke=\"black\" stroke-width=\"1.5\"/>\n";
    const double legendY = frame.top + 10 + 18 * wsOf(summary).size() + 10;
    svg << "<circle cx=\"" << number(frame.right + 32) << "\" cy=\"" << number(legendY)
        << "\" r=\"6\" fill=\"none\" stroke=\"black\" stroke-width=\"2\"/>\n";
    svg << text(frame.right + 50, legendY + 4, choiceText("min", least));
    svg << "<rect x=\"" << number(frame.right + 27) << "\" y=\"" << number(legendY + 13)
        << "\" width=\"10\" height=\"10\" fill=\"none\" stroke=\"black\"/>\n";
    svg << text(frame.right + 50, legendY + 22, choiceText("1se", simple));
}

} // namespace

std::string curveSvg(const CvSummary &summary, double majorityError)
{
    const CurveFrame frame = curveFrame(summary, majorityError);
    std::ostringstream svg;
    svg << header(frame.width, frame.height);
    drawAxes(svg, frame, majorityError);
    drawLines(svg, frame, summary);
    if (!summary.points.empty())
        drawChoices(svg, frame, summary);
    svg << "</svg>\n";
    return svg.str();
}

std::string confusionSvg(const std::vector<std::vector<long>> &counts, const StudyNames &names,
                         const std::string &point)
{
    const int C = static_cast<int>(counts.size());
    std::size_t longest = 1;
    for (int k = 1; k <= C; k++)
        longest = std::max(longest, names.className(k).size());
    // Labels of 12 px sans-serif run about 7 px a character; column labels
    // are turned 45 degrees, so they reach as far right as they are long.
    const double label = std::min(240.0, 7.0 * longest + 12), cell = 44;
    const double left = label + 30, top = label * 0.71 + 60;
    const double matrixRight = left + cell * C;
    const double scaleLeft = std::max(matrixRight + 20, left + cell * (C - 1) + label * 0.71 + 10);
    const std::string title = "Confusion matrix at " + point + " (held-out samples, all repetitions)";
    // Room for the colour scale's title, about 6 px a character at 11 px.
    const double width = std::max(scaleLeft + 130, 8.5 * title.size() + 20);
    const double height = std::max(top + cell * C + 20, top + 180.0);

    std::ostringstream svg;
    svg << header(width, height);
    svg << text(10, 20, title, " font-size=\"15\"");
    svg << text(left + cell * C / 2, 42, "predicted class", " text-anchor=\"middle\"");
    svg << text(14, top + cell * C / 2, "true class",
                " text-anchor=\"middle\" transform=\"rotate(-90 14 " + number(top + cell * C / 2) + ")\"");
    for (int k = 0; k < C; k++) {
        const double x = left + cell * k + cell / 2, y = top - 8;
        svg << text(x, y, names.className(k + 1),
                    " transform=\"rotate(-45 " + number(x) + " " + number(y) + ")\"");
        svg << text(left - 8, top + cell * k + cell / 2 + 4, names.className(k + 1),
                    " text-anchor=\"end\"");
    }
    // Shade by the share of the true class's samples, so that small classes show as clearly as large ones.
    for (int t = 0; t < C; t++) {
        long total = 0;
        for (const long n : counts[t])
            total += n;
        for (int p = 0; p < C; p++) {
            const double share = total > 0 ? static_cast<double>(counts[t][p]) / total : 0.0;
            const double x = left + cell * p, y = top + cell * t;
            svg << "<rect x=\"" << number(x) << "\" y=\"" << number(y) << "\" width=\"" << number(cell)
                << "\" height=\"" << number(cell) << "\" fill=\"" << shade(share)
                << "\" stroke=\"#999999\"><title>" << xmlText(names.className(t + 1)) << " as "
                << xmlText(names.className(p + 1)) << ": " << counts[t][p] << "</title></rect>\n";
            svg << text(x + cell / 2, y + cell / 2 + 4, std::to_string(counts[t][p]),
                        std::string(" text-anchor=\"middle\" fill=\"") +
                            (share > 0.5 ? "white" : "black") + "\"");
        }
    }
    // The colour scale: ten steps from none to all of the true class's samples.
    const double barTop = top, barHeight = 150;
    svg << text(scaleLeft, barTop - 8, "share of true class", " font-size=\"11\"");
    for (int i = 0; i < 10; i++)
        svg << "<rect x=\"" << number(scaleLeft) << "\" y=\"" << number(barTop + barHeight * (9 - i) / 10)
            << "\" width=\"16\" height=\"" << number(barHeight / 10) << "\" fill=\"" << shade((i + 0.5) / 10)
            << "\"/>\n";
    svg << "<rect x=\"" << number(scaleLeft) << "\" y=\"" << number(barTop)
        << "\" width=\"16\" height=\"" << number(barHeight) << "\" fill=\"none\" stroke=\"#999999\"/>\n";
    for (const int percent : {0, 50, 100})
        svg << text(scaleLeft + 22, barTop + barHeight * (100 - percent) / 100 + 4,
                    std::to_string(percent) + "%", " font-size=\"11\"");
    svg << "</svg>\n";
    return svg.str();
}
