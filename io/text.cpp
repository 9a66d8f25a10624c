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
#include <new>

#include <sys/stat.h>

#ifdef ORVANE_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

bool startsWith(const std::string &bytes, const char *prefix, size_t length)
{
    return bytes.size() >= length && bytes.compare(0, length, prefix, length) == 0;
}

unsigned long long cap = 64000000000ULL;

} // namespace

unsigned long long gunzipCap()
{
    return cap;
}

void setGunzipCap(unsigned long long bytes)
{
    cap = bytes;
}

// The bytes behind a TextStream: a file, inflated as it is read when it
// starts with the gzip signature, or text in memory.
struct TextStream::Source {
    std::string path;
    std::ifstream file;
    const std::string *memory = nullptr;  // the text, when the stream reads from memory
    size_t memoryAt = 0;
    bool gzip = false;
    unsigned long long inflated = 0;
    char packed[1 << 16];
#ifdef ORVANE_HAVE_ZLIB
    z_stream zip{};
    bool zipOpen = false;
    bool memberEnded = false;  // between two gzip members, or at the end
#endif
    ~Source()
    {
#ifdef ORVANE_HAVE_ZLIB
        if (zipOpen)
            inflateEnd(&zip);
#endif
    }
};

TextStream::TextStream(const std::string &path) : source(new Source)
{
    source->path = path;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        problem = path + ": is a folder, not a file";
        ended = true;
        return;
    }
    source->file.open(path, std::ios::binary);
    if (!source->file) {
        problem = path + ": cannot open the file (" + std::strerror(errno) + ")";
        ended = true;
        return;
    }
    char magic[2] = {};
    source->file.read(magic, 2);
    source->gzip = source->file.gcount() == 2 && magic[0] == '\x1f' && magic[1] == '\x8b';
    source->file.clear();
    source->file.seekg(0);
#ifdef ORVANE_HAVE_ZLIB
    if (source->gzip) {
        source->zipOpen = inflateInit2(&source->zip, 15 + 16) == Z_OK;
        if (!source->zipOpen) {
            problem = path + ": cannot start gzip decompression";
            ended = true;
        }
    }
#else
    if (source->gzip) {
        problem = path + ": a gzip-compressed file, and this build cannot read gzip: rebuild "
                         "Orvane with zlib installed (Debian: zlib1g-dev), or gunzip the file first";
        ended = true;
    }
#endif
}

TextStream::TextStream(const std::string &text, const std::string &name) : source(new Source)
{
    source->path = name;
    source->memory = &text;
}

TextStream::~TextStream() = default;

#ifdef ORVANE_HAVE_ZLIB
// Inflates into `buffer` from the file, member after member; returns the
// bytes made, 0 at the end, and -1 with `problem` set when it fails.
long long TextStream::inflateSome(char *buffer, size_t size)
{
    Source &in = *source;
    z_stream &zip = in.zip;
    zip.next_out = reinterpret_cast<Bytef *>(buffer);
    zip.avail_out = static_cast<uInt>(size);
    while (zip.avail_out == size) {
        if (zip.avail_in == 0) {
            in.file.read(in.packed, sizeof in.packed);
            if (in.file.bad()) {
                problem = in.path + ": cannot read the file";
                return -1;
            }
            zip.next_in = reinterpret_cast<Bytef *>(in.packed);
            zip.avail_in = static_cast<uInt>(in.file.gcount());
            if (zip.avail_in == 0) {
                if (in.memberEnded)
                    return 0;
                problem = in.path + ": the gzip data is damaged or cut short";
                return -1;
            }
        }
        if (in.memberEnded) {
            // Another member follows only when the next bytes start one; anything else ends the data.
            if (zip.next_in[0] != 0x1f || inflateReset(&zip) != Z_OK)
                return 0;
            in.memberEnded = false;
        }
        const int status = inflate(&zip, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            in.memberEnded = true;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            problem = in.path + ": the gzip data is damaged or cut short";
            return -1;
        }
    }
    return static_cast<long long>(size - zip.avail_out);
}
#endif

size_t TextStream::readSource(char *buffer, size_t size)
{
    Source &in = *source;
    if (in.memory != nullptr) {
        const size_t n = std::min(size, in.memory->size() - in.memoryAt);
        std::memcpy(buffer, in.memory->data() + in.memoryAt, n);
        in.memoryAt += n;
        return n;
    }
    if (!in.gzip) {
        in.file.read(buffer, static_cast<std::streamsize>(size));
        if (in.file.bad()) {
            problem = in.path + ": cannot read the file";
            return 0;
        }
        return static_cast<size_t>(in.file.gcount());
    }
#ifdef ORVANE_HAVE_ZLIB
    const long long made = inflateSome(buffer, size);
    if (made <= 0)
        return 0;
    in.inflated += static_cast<unsigned long long>(made);
    if (in.inflated > cap) {
        char text[64];
        std::snprintf(text, sizeof text, "%.6g GB", static_cast<double>(cap) / 1e9);
        problem = in.path + ": inflates to more than " + text +
                  ", the cap on gzipped input (Orvane-prepare -max-gunzipped GB raises it)";
        return 0;
    }
    return static_cast<size_t>(made);
#else
    return 0;
#endif
}

bool TextStream::fill(size_t size)
{
    if (start > 0 && start >= ahead.size() / 2) {
        ahead.erase(0, start);
        start = 0;
    }
    char buffer[1 << 16];
    while (!ended && ahead.size() - start < size) {
        const size_t n = readSource(buffer, sizeof buffer);
        if (n == 0)
            ended = true;
        ahead.append(buffer, n);
    }
    return ahead.size() - start >= size;
}

std::string TextStream::peek(size_t size)
{
    fill(size);
    return ahead.substr(start, size);
}

void TextStream::skip(size_t size)
{
    start = std::min(ahead.size(), start + size);
}

void TextStream::skipByteOrderMark()
{
    if (peek(3) == "\xEF\xBB\xBF")
        skip(3);
}

bool TextStream::chunk(std::string &piece)
{
    fill(1);
    if (start == ahead.size())
        return false;
    piece.assign(ahead, start, std::string::npos);
    ahead.clear();
    start = 0;
    return true;
}

bool TextStream::line(std::string &text)
{
    size_t searched = start;
    size_t end = std::string::npos;
    while (true) {
        end = ahead.find_first_of("\r\n", searched);
        // A '\r' at the end of what was read may be the start of "\r\n".
        if (end != std::string::npos && (ahead[end] == '\n' || end + 1 < ahead.size() || ended))
            break;
        if (ended)
            break;
        const size_t offset = (end != std::string::npos ? end : ahead.size()) - start;
        fill(ahead.size() - start + 1);
        searched = start + offset;
    }
    if (start == ahead.size())
        return false;
    if (end == std::string::npos) {
        text.assign(ahead, start, std::string::npos);
        start = ahead.size();
        return true;
    }
    text.assign(ahead, start, end - start);
    start = end + (ahead.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    return true;
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

std::string readTextLines(const std::string &path, std::vector<std::string> &lines,
                          const std::string &accepted)
{
    lines.clear();
    try {
        TextStream in(path);
        // The first bytes tell binary data, before the rest is read (or inflated).
        const std::string kind = binaryKind(in.peek(4096));
        if (!in.problem.empty())
            return in.problem;
        if (!kind.empty())
            return path + ": looks like " + kind + ", not " + accepted;
        in.skipByteOrderMark();
        for (std::string line; in.line(line);)
            lines.push_back(std::move(line));
        return in.problem;
    } catch (const std::bad_alloc &) {
        std::vector<std::string>().swap(lines);
        return path + ": not enough memory to read the file";
    }
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

std::string oneField(std::string value)
{
    for (char &c : value)
        c = c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
    return value;
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
