#include "country/config/file_paths.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// As many links as the system itself follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string GroupName(gid_t gid)
{
    std::vector<char> buffer(16384);
    struct group entry;
    struct group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::to_string(gid);
    return found->gr_name;
}

}  // namespace

std::string FollowFileLinks(const std::string& path)
{
    std::string current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size())
            return current;  // changed under us or unreadable: the write then fails on its own
        const std::string text(target.data(), static_cast<size_t>(length));
        current = text[0] == '/' ? text : DirectoryOf(current) + "/" + text;
    }
    return current;
}

std::string WritePermissionHint(const std::string& directory, int error)
{
    if (error == EROFS)
        return directory + " is on a read-only file system: link the file to a writable place";
    if (error != EACCES && error != EPERM)
        return std::string();
    struct stat st;
    if (::stat(directory.c_str(), &st) == 0 && (st.st_mode & S_IWGRP) != 0 && st.st_gid != 0) {
        const std::string group = GroupName(st.st_gid);
        return "to write " + directory + ", join the group " + group + " that owns it (sudo adduser $USER " +
               group + "), then log in again";
    }
    return "ask an administrator for permission to write " + directory;
}
