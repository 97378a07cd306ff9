#include "system/RuntimeDirectory.h"

#include <cerrno>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

std::string VarnexRuntimeDirectory() {
    std::string directory;
    if (const char* overridden = std::getenv("VARNEX_RUNTIME_DIR"); overridden && *overridden)
        directory = overridden;
    else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg)
        directory = std::string(xdg) + "/varnex";
    else
        directory = "/tmp/varnex-" + std::to_string(::getuid());
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();

    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat info;
    if (::lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0)
        return {};
    return directory;
}
