// The two plots of a cross-validation run as self-contained SVG: the error
// curve against lambda (log axis when every lambda is above 0), one line per
// w with standard-error bars, and the confusion matrix as a heat map.
#include <algorithm>
#include <cmath>
#include <cstdio>
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

std::string curveSvg(const CvSummary &summary, double majorityError)
{
    std::vector<float> wsSeen;
    for (const PointSummary &p : summary.points)
        if (std::find(wsSeen.begin(), wsSeen.end(), p.w) == wsSeen.end())
            wsSeen.push_back(p.w);
    // Tall enough for the legend: a line per w and the two choices.
    const double width = 860, height = std::max(460.0, 40 + 18.0 * wsSeen.size() + 70);
    const double left = 70, right = 600, top = 40, bottom = 390;
    bool logAxis = !summary.points.empty();
    for (const PointSummary &p : summary.points)
        logAxis = logAxis && p.lambda > 0;
    const auto xOf = [&](float lambda) { return logAxis ? std::log10(lambda) : lambda; };

    // The error axis spans the data (bars included) and the reference line, with a margin.
    double xLeast = 0, xMost = 0, yLeast = 1, yMost = 0;
    bool any = false;
    for (const PointSummary &p : summary.points) {
        const double x = xOf(p.lambda);
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
    const double range = yMost - yLeast + 2 * margin;
    const double step = range <= 0.1 ? 0.01 : range <= 0.2 ? 0.02 : range <= 0.5 ? 0.05 : 0.1;
    const double yLow = std::max(0.0, std::floor((yLeast - margin) / step + 1e-4) * step);
    const double yHigh = std::min(1.0, std::ceil((yMost + margin) / step - 1e-4) * step);
    const double pad = xMost > xLeast ? (xMost - xLeast) * 0.05 : 0.0;
    const Scale xScale{xLeast - pad, xMost + pad, left, right};
    const Scale yScale{yLow, yHigh, bottom, top};

    std::ostringstream svg;
    svg << header(width, height);
    svg << text(left, 24, "Cross-validation error", " font-size=\"15\"");
    svg << line(left, bottom, right, bottom, "black") << line(left, bottom, left, top, "black");
    const int ticks = static_cast<int>(std::lround((yHigh - yLow) / step));
    for (int t = 0; t <= ticks; t++) {
        const double value = yLow + step * t, y = yScale(value);
        svg << line(left - 4, y, left, y, "black") << line(left, y, right, y, "#e0e0e0");
        svg << text(left - 8, y + 4, shortestText(static_cast<float>(std::round(value * 100) / 100)),
                    " text-anchor=\"end\"");
    }
    std::vector<float> lambdas;
    for (const PointSummary &p : summary.points)
        lambdas.push_back(p.lambda);
    std::sort(lambdas.begin(), lambdas.end());
    lambdas.erase(std::unique(lambdas.begin(), lambdas.end()), lambdas.end());
    // Every lambda gets a tick; a label only where it clears the one before.
    double labelEnd = -1e9;
    for (const float lambda : lambdas) {
        const double x = xScale(xOf(lambda));
        const std::string label = shortestText(lambda);
        const double half = 3.5 * label.size();
        svg << line(x, bottom, x, bottom + 4, "black");
        if (x - half >= labelEnd + 6) {
            svg << text(x, bottom + 18, label, " text-anchor=\"middle\"");
            labelEnd = x + half;
        }
    }
    svg << text((left + right) / 2, bottom + 42, logAxis ? "lambda (log scale)" : "lambda",
                " text-anchor=\"middle\"");
    svg << text(18, (top + bottom) / 2, "mean error \u00b1 standard error",
                " text-anchor=\"middle\" transform=\"rotate(-90 18 " + number((top + bottom) / 2) +
                    ")\"");
    if (std::isfinite(majorityError)) {
        const double y = yScale(majorityError);
        svg << "<line x1=\"" << number(left) << "\" y1=\"" << number(y) << "\" x2=\"" << number(right)
            << "\" y2=\"" << number(y) << "\" stroke=\"#555555\" stroke-dasharray=\"2,3\"/>\n";
        char value[16];
        std::snprintf(value, sizeof value, "%.3g", majorityError);
        svg << text(right - 4, y - 4, std::string("always the majority class: ") + value,
                    " text-anchor=\"end\" fill=\"#555555\" font-size=\"11\"");
    }

    // One line per w, through its points in increasing lambda.
    std::vector<float> ws;
    for (const PointSummary &p : summary.points)
        if (std::find(ws.begin(), ws.end(), p.w) == ws.end())
            ws.push_back(p.w);
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
            const double x = xScale(xOf(p->lambda)), y = yScale(p->meanError);
            path += (path.empty() ? "" : " ") + number(x) + "," + number(y);
            if (std::isfinite(p->stdError)) {
                const double y0 = yScale(p->meanError - p->stdError), y1 = yScale(p->meanError + p->stdError);
                svg << line(x, y0, x, y1, colour) << line(x - 3, y0, x + 3, y0, colour)
                    << line(x - 3, y1, x + 3, y1, colour);
            }
            svg << marker(shape, x, y, colour);
        }
        svg << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"1.5\"" << dashAttribute(dash)
            << " points=\"" << path << "\"/>\n";
        const double legendY = top + 10 + 18 * v;
        svg << "<line x1=\"" << number(right + 20) << "\" y1=\"" << number(legendY) << "\" x2=\""
            << number(right + 44) << "\" y2=\"" << number(legendY) << "\" stroke=\"" << colour
            << "\" stroke-width=\"1.5\"" << dashAttribute(dash) << "/>\n";
        svg << marker(shape, right + 32, legendY, colour);
        svg << text(right + 50, legendY + 4, "w = " + shortestText(ws[v]));
    }

    // The two choices: a ring for the least mean error, a square for one standard error.
    if (!summary.points.empty()) {
        const PointSummary &least = summary.points[summary.minPoint];
        const PointSummary &simple = summary.points[summary.oneSePoint];
        if (std::isfinite(least.meanError))
            svg << "<circle cx=\"" << number(xScale(xOf(least.lambda))) << "\" cy=\""
                << number(yScale(least.meanError)) << "\" r=\"8\" fill=\"none\" stroke=\"black\" "
                << "stroke-width=\"2\"/>\n";
        if (std::isfinite(simple.meanError))
            svg << "<rect x=\"" << number(xScale(xOf(simple.lambda)) - 6) << "\" y=\""
                << number(yScale(simple.meanError) - 6) << "\" width=\"12\" height=\"12\" "
                << "fill=\"none\" stroke=\"black\" stroke-width=\"1.5\"/>\n";
        const double legendY = top + 10 + 18 * ws.size() + 10;
        svg << "<circle cx=\"" << number(right + 32) << "\" cy=\"" << number(legendY)
            << "\" r=\"6\" fill=\"none\" stroke=\"black\" stroke-width=\"2\"/>\n";
        svg << text(right + 50, legendY + 4, "min (w " + shortestText(least.w) + ", lambda " +
                                                 shortestText(least.lambda) + ")");
        svg << "<rect x=\"" << number(right + 27) << "\" y=\"" << number(legendY + 13)
            << "\" width=\"10\" height=\"10\" fill=\"none\" stroke=\"black\"/>\n";
        svg << text(right + 50, legendY + 22, "1se (w " + shortestText(simple.w) + ", lambda " +
                                                  shortestText(simple.lambda) + ")");
    }
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
    const double width = std::max(scaleLeft + 90, 8.5 * title.size() + 20);
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
