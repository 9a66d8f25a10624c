// Reading the program's text formats in one pass, byte by byte from a
// buffer, without holding a line in memory: a file of any line length is read
// in constant memory.
//
// Numbers are extracted exactly as formatted stream extraction (`>>` on a
// std::istream in the "C" locale) extracts them from a line: the same
// characters are accepted, the same ones refused, and a float gets the same
// bits. Only the decimal form is read: an optional sign, digits, an optional
// point and fraction, an optional exponent; "inf", "nan" and hexadecimal are
// not numbers, a value beyond the float range is refused, one below it reads
// as 0 or as a subnormal value.
#ifndef ORVANE_TEXTREADER_H
#define ORVANE_TEXTREADER_H

#include <string>

class TextReader {
public:
    // Opens `path` for reading; an empty path or "-" is not special.
    explicit TextReader(const std::string &path);
    ~TextReader();
    TextReader(const TextReader &) = delete;
    TextReader &operator=(const TextReader &) = delete;

    bool opened() const { return fd >= 0; }
    // The next byte, or -1 at the end of the file (or after a read error).
    int peek()
    {
        if (next == end && !refill())
            return -1;
        return static_cast<unsigned char>(*next);
    }
    void advance() { ++next; }
    // The byte after the next one when the buffer holds it, otherwise -2 (not
    // an answer: the caller reads on byte by byte).
    int peekSecond() const { return end - next > 1 ? static_cast<unsigned char>(next[1]) : -2; }
    // The errno of a failed read, 0 when every read succeeded.
    int readError() const { return error; }
    // Bytes consumed so far, and the file's size (0 when unknown).
    long long offset() const { return before + (next - buffer); }
    long long size() const;

private:
    bool refill();

    int fd;
    int error = 0;
    long long before = 0; // bytes of the file ahead of the buffer
    char *buffer;
    const char *next;
    const char *end;
};

// White space between the fields of a line (the line end is not included).
inline bool isFieldSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline bool atLineEnd(TextReader &in)
{
    const int c = in.peek();
    return c == '\n' || c == -1;
}

inline void skipFieldSpace(TextReader &in)
{
    while (isFieldSpace(in.peek()))
        in.advance();
}

// Skips the rest of the line and its newline. False when no byte was left.
bool finishLine(TextReader &in);

// The text of a field as messages quote it: the first `kShown` bytes, then
// "..." when the field is longer. Never holds more than that.
class FieldText {
public:
    static const std::size_t kShown = 40;
    void clear() { length = 0, cut = false; }
    void add(char c)
    {
        if (length < kShown)
            text[length++] = c;
        else
            cut = true;
    }
    std::string shown() const { return std::string(text, length) + (cut ? "..." : ""); }
    // The rest of the field, up to white space or the line end.
    void addRest(TextReader &in);

private:
    char text[kShown];
    std::size_t length = 0;
    bool cut = false;
};

// Stream extraction from the current position of a line: skips field space,
// then reads a number. False when none can be read; the characters read are
// consumed either way, and added to `seen` when it is given. A field is a
// whole number only when extraction succeeds and ends at white space or at
// the line end.
bool extractFloat(TextReader &in, float &value, FieldText *seen = nullptr);
bool extractInt(TextReader &in, int &value, FieldText *seen = nullptr);

// The same rules on a text in memory, for fields that are already strings
// (tree labels, tests). The whole text must be one number, as with
// `std::istringstream(text) >> value` followed by reaching its end; leading
// white space is skipped as extraction skips it.
bool wholeFloat(const std::string &text, float &value);
bool wholeInt(const std::string &text, int &value);

// A text quoted in a message: between single quotes, cut as FieldText cuts.
std::string quotedText(const std::string &text);

#endif
