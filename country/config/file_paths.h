// Where a file the program replaces really lives, and what to tell a user who may not write it.
#pragma once

#include <string>

// The file a path names once every symbolic link in its last component is followed, also a link to a
// file not made yet. A replacement made beside this path and renamed over it leaves the links where an
// administrator put them (modem.ini beside the program linked into /var/lib). A path that is no link
// is returned as it is; a chain of links too long (a loop) ends where it was cut.
std::string FollowFileLinks(const std::string& path);

// For a write into directory that failed with the system error number error: what the user can do
// about it, as a sentence starting with a lower-case letter, or "" when the error is not about
// permissions. A directory writable by its group tells the user to join that group.
std::string WritePermissionHint(const std::string& directory, int error);
