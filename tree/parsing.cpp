#include "tree/parsing.h"

#include <cstring>

namespace vessik {

bool inChars(char c, const char *chars)
{
    if (chars == nullptr)
        return false;
    for (; *chars != '\0'; chars++)
        if (*chars == c)
            return true;
    return false;
}

bool chomp(char *str)
{
    const size_t len = strlen(str);
    if (len == 0 || str[len - 1] != '\n')
        return false;
    str[len - 1] = '\0';
    if (len > 1 && str[len - 2] == '\r')
        str[len - 2] = '\0';
    return true;
}

std::vector<std::string> split(const char *str, const char *delims, bool)
{
    std::vector<std::string> fields;
    if (str == nullptr)
        return fields;
    size_t start = 0;
    while (true) {
        size_t end = start;
        while (str[end] != '\0' && !inChars(str[end], delims))
            end++;
        if (end == start)
            break;
        fields.emplace_back(str + start, end - start);
        if (str[end] == '\0' || str[end + 1] == '\0')
            break;
        start = end + 1;
    }
    return fields;
}

} // namespace vessik
