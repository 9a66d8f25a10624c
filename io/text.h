// Line and field handling shared by the readers of a study's text files.
#ifndef ORVANE_IO_TEXT_H
#define ORVANE_IO_TEXT_H

#include <iosfwd>
#include <string>
#include <vector>

// Reads a whole text file as lines split at "\n", each without a final "\r"
// (files written on Windows read the same) and the first without a UTF-8 byte
// order mark. Returns "" or the message.
std::string readTextLines(const std::string &path, std::vector<std::string> &lines);
// The same from a stream (text in memory); false when reading it failed.
bool readStreamLines(std::istream &in, std::vector<std::string> &lines);

// The fields of a line split at every `separator`, each trimmed of spaces;
// a field wrapped in double quotes loses them ("" inside stands for ").
std::vector<std::string> splitFields(const std::string &line, char separator);

std::string trimSpaces(const std::string &text);
std::string lowerCase(const std::string &text);
// "'text'", the way messages quote a value from a file.
std::string quote(const std::string &text);
// "path:line: ", the start of a message about one line of a file.
std::string fileLine(const std::string &path, int line);

// Decimal text that stream extraction of a float reads back as exactly
// `value`: a whole number as an integer (12 for 12.0f), anything else in the
// shortest form that reads back (0.1 for 0.1f, 1e-07 for 1e-7f).
std::string floatText(float value);

// Text as XML character data for the SVG drawings. Bytes an XML file cannot
// hold (control characters, broken UTF-8 from names in another encoding)
// become '?'.
std::string xmlText(const std::string &text);

#endif
