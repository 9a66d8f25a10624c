#include "io/text.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <sys/stat.h>

#ifdef ORVANE_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

bool startsWith(const std::string &bytes, const char *prefix, size_t length)
{
    return bytes.size() >= length && bytes.compare(0, length, prefix, length) == 0;
}

bool isGzip(const std::string &bytes)
{
    return startsWith(bytes, "\x1f\x8b", 2);
}

#ifdef ORVANE_HAVE_ZLIB
// Inflates every gzip member of `packed` (gzip allows several, one after
// another, as `cat a.gz b.gz` makes) into `bytes`.
std::string gunzip(const std::string &path, const std::string &packed, std::string &bytes)
{
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        return path + ": cannot start gzip decompression";
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    char buffer[1 << 16];
    int status = Z_OK;
    while (true) {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        bytes.append(buffer, sizeof buffer - stream.avail_out);
        if (status == Z_STREAM_END && stream.avail_in > 0 &&
            stream.next_in[0] == 0x1f && inflateReset(&stream) == Z_OK)
            continue;
        if (status != Z_OK)
            break;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return path + ": the gzip data is damaged or cut short";
    return "";
}
#else
std::string gunzip(const std::string &path, const std::string &, std::string &)
{
    return path + ": a gzip-compressed file, and this build cannot read gzip: rebuild Orvane "
                  "with zlib installed (Debian: zlib1g-dev), or gunzip the file first";
}
#endif

} // namespace

std::string readFileBytes(const std::string &path, std::string &bytes)
{
    bytes.clear();
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return path + ": is a folder, not a file";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return path + ": cannot open the file (" + std::strerror(errno) + ")";
    std::string raw;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        raw.append(buffer, static_cast<size_t>(in.gcount()));
    if (in.bad())
        return path + ": cannot read the file";
    if (raw.size() > UINT_MAX)
        return path + ": the file is too large to read";
    if (!isGzip(raw)) {
        bytes.swap(raw);
        return "";
    }
    return gunzip(path, raw, bytes);
}

std::string binaryKind(const std::string &bytes)
{
    if (startsWith(bytes, "\x89HDF\r\n\x1a\n", 8))
        return "an HDF5 file (such as a BIOM 2.1 table)";
    if (startsWith(bytes, "PK\x03\x04", 4))
        return "a zip archive (such as a QIIME 2 .qza artifact or an .xlsx workbook)";
    if (startsWith(bytes, "\xD0\xCF\x11\xE0", 4))
        return "an Excel .xls workbook";
    if (startsWith(bytes, "BZh", 3))
        return "a bzip2-compressed file";
    if (startsWith(bytes, "\xFD" "7zXZ", 5))
        return "an xz-compressed file";
    if (startsWith(bytes, "\x28\xB5\x2F\xFD", 4))
        return "a zstd-compressed file";
    if (startsWith(bytes, "%PDF", 4))
        return "a PDF document";
    if (startsWith(bytes, "\xFF\xFE", 2) || startsWith(bytes, "\xFE\xFF", 2))
        return "UTF-16 text (as spreadsheets save 'Unicode text'; save it as UTF-8)";
    if (bytes.find('\0', 0) < 4096)
        return "binary data";
    return "";
}

void splitLines(const std::string &bytes, std::vector<std::string> &lines)
{
    lines.clear();
    // Spreadsheets save UTF-8 text with a byte order mark, which is not part of the first field.
    size_t start = startsWith(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
}

std::string readTextLines(const std::string &path, std::vector<std::string> &lines,
                          const std::string &accepted)
{
    lines.clear();
    std::string bytes;
    const std::string problem = readFileBytes(path, bytes);
    if (!problem.empty())
        return problem;
    const std::string kind = binaryKind(bytes);
    if (!kind.empty())
        return path + ": looks like " + kind + ", not " + accepted;
    splitLines(bytes, lines);
    return "";
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
        size_t end = line.find(separator, start);
        std::string field = trimSpaces(line.substr(start, end == std::string::npos ? std::string::npos
                                                                                   : end - start));
        if (!field.empty() && field[0] == '"') {
            // A quoted field: its text runs to the closing quote, over separators.
            const size_t opening = line.find('"', start);
            std::string text;
            size_t i = opening + 1;
            bool closed = false;
            for (; i < line.size(); i++) {
                if (line[i] != '"') {
                    text += line[i];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    text += '"';
                    i++;
                } else {
                    closed = true;
                    i++;
                    break;
                }
            }
            if (closed) {
                end = line.find(separator, i);
                field = text + trimSpaces(line.substr(i, end == std::string::npos ? std::string::npos
                                                                                  : end - i));
            }
        }
        fields.push_back(field);
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

size_t countFields(const std::string &line, char separator)
{
    if (line.find('"') != std::string::npos)
        return splitFields(line, separator).size();
    return static_cast<size_t>(std::count(line.begin(), line.end(), separator)) + 1;
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
        // U+FFFE and U+FFFF are sound UTF-8 but no XML character.
        if (length == 3 && text.compare(i, 2, "\xEF\xBF") == 0 && static_cast<unsigned char>(text[i + 2]) >= 0xBE) {
            out += '?';
            i += 3;
            continue;
        }
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
