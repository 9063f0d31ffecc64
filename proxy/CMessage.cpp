#include "proxy/CMessage.h"

#include <sys/stat.h>

std::string CMessage::filePath(const std::string& stateFolder) const
{
    if (!spoolId.empty())
        return stateFolder + "/msg" + spoolId + ".msg";
    return path;
}

long CMessage::sizeQuery(const std::string& stateFolder) const
{
    if (size >= 0)
        return size;
    const std::string file = filePath(stateFolder);
    struct stat st {};
    if (file.empty() || ::stat(file.c_str(), &st) != 0)
        return 0;
    return static_cast<long>(st.st_size);
}
