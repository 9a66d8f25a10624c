#include "io/text.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <sys/stat.h>

std::string readTextLines(const std::string &path, std::vector<std::string> &lines)
{
    lines.clear();
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return path + ": is a folder, not a file";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return path + ": cannot open the file (" + std::strerror(errno) + ")";
    return readStreamLines(in, lines) ? "" : path + ": cannot read the file";
}

bool readStreamLines(std::istream &in, std::vector<std::string> &lines)
{
    lines.clear();
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Spreadsheets save UTF-8 text with a byte order mark, which is not part of the first field.
        if (lines.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        lines.push_back(line);
    }
    return !in.bad();
}

std::string trimSpaces(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

namespace {

std::string unquoteField(const std::string &field)
{
    if (field.size() < 2 || field.front() != '"' || field.back() != '"')
        return field;
    std::string text;
    for (size_t i = 1; i + 1 < field.size(); i++) {
        text += field[i];
        if (field[i] == '"' && i + 2 < field.size() && field[i + 1] == '"')
            i++;
    }
    return text;
}

// Length of the well-formed UTF-8 sequence starting at text[i], or 0.
std::size_t utf8Length(const std::string &text, std::size_t i)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                             : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; k++)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) > 0x9F) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) > 0x8F))
        return 0;
    return length;
}

} // namespace

std::vector<std::string> splitFields(const std::string &line, char separator)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t end = line.find(separator, start);
        const std::string field = line.substr(start, end == std::string::npos ? std::string::npos
                                                                              : end - start);
        fields.push_back(unquoteField(trimSpaces(field)));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

std::string lowerCase(const std::string &text)
{
    std::string lower = text;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string quote(const std::string &text)
{
    return "'" + text + "'";
}

std::string fileLine(const std::string &path, int line)
{
    return path + ":" + std::to_string(line) + ": ";
}

std::string floatText(float value)
{
    char text[64];
    // Whole numbers (counts, mostly) as plain integers, which read back exactly.
    if (value == std::floor(value) && std::fabs(value) < 1e16f) {
        std::snprintf(text, sizeof text, "%.0f", static_cast<double>(value));
        return text;
    }
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return std::string(text, end.ptr);
}

std::string xmlText(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const std::size_t length = utf8Length(text, i);
        if (length > 1) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        i++;
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += (length == 0 || (static_cast<unsigned char>(c) < 0x20 && c != '\t')) ? '?' : c;
        }
    }
    return out;
}
