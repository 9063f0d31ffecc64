#include "upstream/ReplyText.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

std::string formatText(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

bool beginsWith(const std::string& text, const char* prefix)
{
    return ::strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}
