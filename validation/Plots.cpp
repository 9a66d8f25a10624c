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

std::string curveSvg(const CvSummary &summary)
{
    const double width = 840, height = 460, left = 70, right = 600, top = 40, bottom = 390;
    bool logAxis = !summary.points.empty();
    for (const PointSummary &p : summary.points)
        logAxis = logAxis && p.lambda > 0;
    const auto xOf = [&](float lambda) { return logAxis ? std::log10(lambda) : lambda; };

    double xLeast = 0, xMost = 0, yMost = 0;
    bool any = false;
    for (const PointSummary &p : summary.points) {
        const double x = xOf(p.lambda);
        xLeast = any ? std::min(xLeast, x) : x;
        xMost = any ? std::max(xMost, x) : x;
        any = true;
        const double spread = std::isfinite(p.stdError) ? p.stdError : 0.0;
        if (std::isfinite(p.meanError))
            yMost = std::max(yMost, p.meanError + spread);
    }
    yMost = std::max(0.1, std::ceil(yMost * 10 - 1e-9) / 10);
    const double pad = xMost > xLeast ? (xMost - xLeast) * 0.05 : 0.0;
    const Scale xScale{xLeast - pad, xMost + pad, left, right};
    const Scale yScale{0.0, yMost, bottom, top};

    std::ostringstream svg;
    svg << header(width, height);
    svg << text(left, 24, "Cross-validation error", " font-size=\"15\"");
    svg << line(left, bottom, right, bottom, "black") << line(left, bottom, left, top, "black");
    const double step = yMost <= 0.2 ? 0.02 : yMost <= 0.5 ? 0.05 : 0.1;
    const int ticks = static_cast<int>(std::lround(yMost / step));
    for (int t = 0; t <= ticks; t++) {
        const double value = step * t, y = yScale(value);
        svg << line(left - 4, y, left, y, "black") << line(left, y, right, y, "#e0e0e0");
        svg << text(left - 8, y + 4, shortestText(static_cast<float>(value)), " text-anchor=\"end\"");
    }
    std::vector<float> lambdas;
    for (const PointSummary &p : summary.points)
        lambdas.push_back(p.lambda);
    std::sort(lambdas.begin(), lambdas.end());
    lambdas.erase(std::unique(lambdas.begin(), lambdas.end()), lambdas.end());
    for (const float lambda : lambdas) {
        const double x = xScale(xOf(lambda));
        svg << line(x, bottom, x, bottom + 4, "black");
        svg << text(x, bottom + 18, shortestText(lambda), " text-anchor=\"middle\"");
    }
    svg << text((left + right) / 2, bottom + 42, logAxis ? "lambda (log scale)" : "lambda",
                " text-anchor=\"middle\"");
    svg << text(18, (top + bottom) / 2, "mean error \u00b1 standard error",
                " text-anchor=\"middle\" transform=\"rotate(-90 18 " + number((top + bottom) / 2) +
                    ")\"");

    // One line per w, through its points in increasing lambda.
    std::vector<float> ws;
    for (const PointSummary &p : summary.points)
        if (std::find(ws.begin(), ws.end(), p.w) == ws.end())
            ws.push_back(p.w);
    for (std::size_t v = 0; v < ws.size(); v++) {
        const std::string colour = palette[v % (sizeof palette / sizeof *palette)];
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
            svg << "<circle cx=\"" << number(x) << "\" cy=\"" << number(y) << "\" r=\"2.5\" fill=\""
                << colour << "\"/>\n";
        }
        svg << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"1.5\" points=\""
            << path << "\"/>\n";
        const double legendY = top + 10 + 18 * v;
        svg << line(right + 20, legendY, right + 44, legendY, colour);
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

std::string confusionSvg(const std::vector<std::vector<long>> &counts, const StudyNames &names)
{
    const int C = static_cast<int>(counts.size());
    std::size_t longest = 1;
    for (int k = 1; k <= C; k++)
        longest = std::max(longest, names.className(k).size());
    const double label = std::min(240.0, 7.0 * longest + 12), cell = 44;
    const double left = label + 30, top = label + 50;
    const double width = left + cell * C + 20, height = top + cell * C + 20;

    std::ostringstream svg;
    svg << header(width, height);
    svg << text(10, 20, "Confusion matrix (held-out samples, all repetitions)", " font-size=\"15\"");
    svg << text(left + cell * C / 2, 40, "predicted class", " text-anchor=\"middle\"");
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
            const int red = static_cast<int>(std::lround(255 - share * (255 - 8)));
            const int green = static_cast<int>(std::lround(255 - share * (255 - 48)));
            const int blue = static_cast<int>(std::lround(255 - share * (255 - 107)));
            char fill[8];
            std::snprintf(fill, sizeof fill, "#%02x%02x%02x", red, green, blue);
            const double x = left + cell * p, y = top + cell * t;
            svg << "<rect x=\"" << number(x) << "\" y=\"" << number(y) << "\" width=\"" << number(cell)
                << "\" height=\"" << number(cell) << "\" fill=\"" << fill
                << "\" stroke=\"#999999\"><title>" << xmlText(names.className(t + 1)) << " as "
                << xmlText(names.className(p + 1)) << ": " << counts[t][p] << "</title></rect>\n";
            svg << text(x + cell / 2, y + cell / 2 + 4, std::to_string(counts[t][p]),
                        std::string(" text-anchor=\"middle\" fill=\"") +
                            (share > 0.5 ? "white" : "black") + "\"");
        }
    }
    svg << "</svg>\n";
    return svg.str();
}
