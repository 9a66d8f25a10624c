// Line and field handling shared by the readers of a study's text files.
#ifndef ORVANE_IO_TEXT_H
#define ORVANE_IO_TEXT_H

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// The most bytes a gzipped input may inflate to (64 GB unless set): far above
// any real table, it stops a small file that inflates without end.
unsigned long long gunzipCap();
void setGunzipCap(unsigned long long bytes);

// A file read front to back, gzipped (every member, as `cat a.gz b.gz` makes)
// or plain, told by its first bytes rather than its name; gzip is inflated as
// it is read, never whole. Or text already in memory. After a failure (a
// damaged gzip stream, more than gunzipCap() bytes) `problem` names the file
// and the stream reads as ended.
class TextStream {
public:
    explicit TextStream(const std::string &path);
    TextStream(const std::string &text, const std::string &name);
    ~TextStream();
    TextStream(const TextStream &) = delete;
    TextStream &operator=(const TextStream &) = delete;

    // Up to the next `size` bytes without consuming them (fewer at the end).
    std::string peek(size_t size);
    // Consumes `size` bytes of those peeked.
    void skip(size_t size);
    // Skips a UTF-8 byte order mark, as spreadsheets and some editors start text with.
    void skipByteOrderMark();
    // The next piece of the stream, consumed; false at the end.
    bool chunk(std::string &piece);
    // The next line, ended by "\n", "\r\n" or a lone "\r"; false at the end.
    bool line(std::string &text);

    std::string problem;

private:
    bool fill(size_t size);  // reads until `size` bytes wait in `ahead`
    size_t readSource(char *buffer, size_t size);
    long long inflateSome(char *buffer, size_t size);

    struct Source;
    std::unique_ptr<Source> source;  // the open file and its inflater
    std::string ahead;  // read, not yet consumed, from `start` on
    size_t start = 0;
    bool ended = false;
};

// What the bytes look like when they are not text ("a zip archive (such as a
// QIIME 2 .qza artifact)", "an HDF5 file", ...), or "" for text.
std::string binaryKind(const std::string &bytes);

// Reads a whole text file, gzipped or plain, as lines ended by "\n", "\r\n"
// or a lone "\r" (files written on Windows and old Macs read the same), the
// first without a UTF-8 byte order mark. A file that is not text is refused
// with what it looks like and `accepted`, the formats the caller reads.
// Returns "" or the message.
std::string readTextLines(const std::string &path, std::vector<std::string> &lines,
                          const std::string &accepted = "a text file");

// The fields of a line split at every `separator`, each trimmed of spaces.
// A field that starts with a double quote runs to its closing quote, as in
// RFC 4180: separators inside stay in the field and "" stands for ".
std::vector<std::string> splitFields(const std::string &line, char separator);

// The number of fields splitFields finds, without making them.
size_t countFields(const std::string &line, char separator);

std::string trimSpaces(const std::string &text);
std::string lowerCase(const std::string &text);
// "'text'", the way messages quote a value from a file.
std::string quote(const std::string &text);
// A value as one field of a key<TAB>value line: a tab or line break in a path
// becomes a space.
std::string oneField(std::string value);
// "path:line: ", the start of a message about one line of a file.
std::string fileLine(const std::string &path, int line);

// Decimal text that stream extraction of a float reads back as exactly
// `value`: a whole number as an integer (12 for 12.0f), anything else in the
// shortest form that reads back (0.1 for 0.1f, 1e-07 for 1e-7f).
std::string floatText(float value);

// Text as XML character data for the SVG drawings. Bytes an XML file cannot
// hold (control characters, broken UTF-8 from names in another encoding,
// U+FFFE and U+FFFF) become '?'.
std::string xmlText(const std::string &text);

#endif
