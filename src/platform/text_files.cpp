#include "platform/text_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace kestra::platform {

std::string WriteTextFile(const std::string& path, const std::string& text) {
    // Written beside the old file and renamed over it: a failed write leaves
    // the old content whole.
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return path + ": " + std::strerror(errno);
        out << text;
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            return path + ": write failed";
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string why = path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return why;
    }
    return {};
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = errno == ENOENT ? "File not found: " + path : path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

std::string ModifiedText(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::tm t{};
    ::localtime_r(&st.st_mtime, &t);
    const int hour = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", t.tm_mon + 1, t.tm_mday,
                  t.tm_year + 1900, hour, t.tm_min, t.tm_sec, t.tm_hour < 12 ? "AM" : "PM");
    return text;
}

}  // namespace kestra::platform
