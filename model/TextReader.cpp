// Buffered reading and stream-exact number extraction (see TextReader.h).
//
// Formatted extraction of a float gathers the characters of the decimal form
// (sign, digits, one point, 'e' or 'E' with a sign and digits) and converts
// them with strtof; it fails when strtof does not take them all (no digit, or
// an exponent without digits) and when the value overflows to infinity. The
// gathered text may be as long as the field; here only its first
// kSignificant significant digits are kept, with one nonzero digit standing
// in for any nonzero digits dropped after them. No halfway point between two
// floats has that many significant digits, so the kept text rounds exactly as
// the whole text does.
#include "model/TextReader.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::size_t kBufferSize = 1 << 18;
const int kSignificant = 200;
// An exponent this large overflows or underflows any kept mantissa; larger
// ones are clamped to it so that the arithmetic stays in range.
const long long kExponentClamp = 100000;

// Bytes of a string, read as TextReader reads a file.
class StringSource {
public:
    explicit StringSource(const std::string &text) : next(text.data()), end(text.data() + text.size()) {}
    int peek() const { return next == end ? -1 : static_cast<unsigned char>(*next); }
    void advance() { ++next; }

private:
    const char *next;
    const char *end;
};

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

template <class Source>
inline __attribute__((always_inline)) void take(Source &in, FieldText *seen)
{
    if (seen != nullptr)
        seen->add(static_cast<char>(in.peek()));
    in.advance();
}

// The decimal text gathered so far, kept as up to kSignificant significant
// digits times a power of ten.
struct Decimal {
    bool negative = false;
    bool anyDigit = false;
    char digits[kSignificant + 2];
    int nDigits = 0;
    bool dropped = false;     // a nonzero digit beyond the kept ones
    long long scale = 0;      // power of ten applied to the kept digits

    void integerDigit(int d)
    {
        anyDigit = true;
        if (nDigits == 0 && d == 0)
            return;
        if (nDigits < kSignificant)
            digits[nDigits++] = static_cast<char>('0' + d);
        else {
            scale++;
            dropped = dropped || d != 0;
        }
    }
    void fractionDigit(int d)
    {
        anyDigit = true;
        if (nDigits == 0 && d == 0) {
            scale--;
            return;
        }
        if (nDigits < kSignificant) {
            digits[nDigits++] = static_cast<char>('0' + d);
            scale--;
        } else
            dropped = dropped || d != 0;
    }
};

float powerOfTen(int n)
{
    static const float powers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    return powers[n];
}

// The float nearest to the decimal (ties to even), or false on overflow.
bool convert(Decimal &d, long long exponent, float &value)
{
    if (d.nDigits == 0) {
        value = d.negative ? -0.0f : 0.0f;
        return true;
    }
    long long power = d.scale + exponent;
    if (power > kExponentClamp)
        power = kExponentClamp;
    if (power < -kExponentClamp)
        power = -kExponentClamp;
    // Exact operands give a correctly rounded product or quotient.
    if (!d.dropped && d.nDigits <= 7 && power >= -10 && power <= 10) {
        int mantissa = 0;
        for (int i = 0; i < d.nDigits; i++)
            mantissa = mantissa * 10 + (d.digits[i] - '0');
        const float m = static_cast<float>(mantissa);
        value = power >= 0 ? m * powerOfTen(static_cast<int>(power))
                           : m / powerOfTen(static_cast<int>(-power));
        if (d.negative)
            value = -value;
        return true;
    }
    std::string text = d.negative ? "-" : "";
    text.append(d.digits, d.nDigits);
    if (d.dropped) {
        text += '1';
        power--;
    }
    text += 'e' + std::to_string(power);
    value = std::strtof(text.c_str(), nullptr);
    return !std::isinf(value);
}

template <class Source>
bool extractFloatFrom(Source &in, float &value, FieldText *seen)
{
    value = 0.0f;
    Decimal d;
    int c = in.peek();
    if (c == '+' || c == '-') {
        d.negative = c == '-';
        take(in, seen);
        c = in.peek();
    }
    bool point = false;
    bool exponentMark = false;
    bool exponentDigit = false;
    bool exponentNegative = false;
    long long exponent = 0;
    while (c != -1) {
        if (isDigit(c)) {
            if (exponentMark) {
                exponentDigit = true;
                if (exponent < LLONG_MAX / 100)
                    exponent = exponent * 10 + (c - '0');
            } else if (point)
                d.fractionDigit(c - '0');
            else
                d.integerDigit(c - '0');
        } else if (c == '.' && !point && !exponentMark) {
            point = true;
        } else if ((c == 'e' || c == 'E') && !exponentMark && d.anyDigit) {
            exponentMark = true;
            take(in, seen);
            c = in.peek();
            if (c == '+' || c == '-') {
                exponentNegative = c == '-';
                take(in, seen);
                c = in.peek();
            }
            continue;
        } else
            break;
        take(in, seen);
        c = in.peek();
    }
    // strtof would stop before an exponent without digits, or find no digit.
    if (!d.anyDigit || (exponentMark && !exponentDigit))
        return false;
    return convert(d, exponentNegative ? -exponent : exponent, value);
}

template <class Source>
bool extractIntFrom(Source &in, int &value, FieldText *seen)
{
    value = 0;
    bool negative = false;
    int c = in.peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        take(in, seen);
        c = in.peek();
    }
    bool anyDigit = false;
    long long magnitude = 0;
    const long long most = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    while (isDigit(c)) {
        anyDigit = true;
        if (magnitude <= most)
            magnitude = magnitude * 10 + (c - '0');
        take(in, seen);
        c = in.peek();
    }
    if (!anyDigit || magnitude > most)
        return false;
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

// White space as formatted extraction skips it before a number.
template <class Source>
void skipSpace(Source &in)
{
    while (isFieldSpace(in.peek()) || in.peek() == '\n')
        in.advance();
}

} // namespace

TextReader::TextReader(const std::string &path)
    : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)), buffer(new char[kBufferSize]), next(buffer),
      end(buffer)
{
}

TextReader::~TextReader()
{
    if (fd >= 0)
        close(fd);
    delete[] buffer;
}

bool TextReader::refill()
{
    if (fd < 0 || error != 0)
        return false;
    ssize_t got;
    do
        got = read(fd, buffer, kBufferSize);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        error = errno;
    before += end - buffer;
    next = buffer;
    end = buffer + (got > 0 ? got : 0);
    return got > 0;
}

long long TextReader::size() const
{
    struct stat status;
    return fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : 0;
}

bool finishLine(TextReader &in)
{
    if (in.peek() == -1)
        return false;
    for (int c = in.peek(); c != -1; c = in.peek()) {
        in.advance();
        if (c == '\n')
            break;
    }
    return true;
}

void FieldText::addRest(TextReader &in)
{
    for (int c = in.peek(); c != -1 && c != '\n' && !isFieldSpace(c); c = in.peek()) {
        add(static_cast<char>(c));
        in.advance();
    }
}

bool extractFloat(TextReader &in, float &value, FieldText *seen)
{
    skipFieldSpace(in);
    if (atLineEnd(in)) {
        value = 0.0f;
        return false;
    }
    return extractFloatFrom(in, value, seen);
}

bool extractInt(TextReader &in, int &value, FieldText *seen)
{
    skipFieldSpace(in);
    if (atLineEnd(in)) {
        value = 0;
        return false;
    }
    return extractIntFrom(in, value, seen);
}

bool wholeFloat(const std::string &text, float &value)
{
    StringSource in(text);
    skipSpace(in);
    return extractFloatFrom(in, value, nullptr) && in.peek() == -1;
}

bool wholeInt(const std::string &text, int &value)
{
    StringSource in(text);
    skipSpace(in);
    return extractIntFrom(in, value, nullptr) && in.peek() == -1;
}

std::string quotedText(const std::string &text)
{
    FieldText shown;
    for (const char c : text)
        shown.add(c);
    return "'" + shown.shown() + "'";
}
