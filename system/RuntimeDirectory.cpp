// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/RuntimeDirectory.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace varnex::system {

std::string VarnexRuntimeDirectory(std::string* whyNot) {
    std::string directory;
    std::string chosenBy;
    if (const char* overridden = std::getenv("VARNEX_RUNTIME_DIR"); overridden && *overridden) {
        directory = overridden;
        chosenBy = "VARNEX_RUNTIME_DIR";
    } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
        directory = std::string(xdg) + "/varnex";
        chosenBy = "XDG_RUNTIME_DIR";
    } else {
        directory = "/tmp/varnex-" + std::to_string(::getuid());
    }
    while (directory.size() > 1 && directory.back() == '/') {
        directory.pop_back();
    }

    std::string problem;
    struct stat info {};
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = "cannot be created (" + std::string(std::strerror(errno)) + ")";
    } else if (::lstat(directory.c_str(), &info) != 0) {
        problem = "cannot be examined (" + std::string(std::strerror(errno)) + ")";
    } else if (S_ISLNK(info.st_mode)) {
        problem = "is a symbolic link, not a directory of this user's own";
    } else if (!S_ISDIR(info.st_mode)) {
        problem = "is not a directory";
    } else if (info.st_uid != ::geteuid()) {
        problem = "belongs to another user (uid " + std::to_string(info.st_uid) +
                  "), who may have made it to block this one";
    } else if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        problem = std::string("is open to other users (mode ") + mode + ")";
    }
    if (problem.empty()) {
        return directory;
    }
    if (whyNot) {
        // The /tmp default is the one place others can take first: say where the name came from.
        *whyNot = "the runtime directory " + directory + " " + problem + "; ";
        if (chosenBy.empty()) {
            *whyNot += "XDG_RUNTIME_DIR is not set, so the /tmp default was used: ";
        } else {
            *whyNot += "it comes from " + chosenBy + ": ";
        }
        *whyNot += "set VARNEX_RUNTIME_DIR to a directory of your own (mode 0700) in every Varnex program's "
                   "environment";
    }
    return {};
}

} // namespace varnex::system
