// Notices a file name appearing in a directory (Linux inotify), without blocking.
#pragma once

#include <string>

namespace daq {

class DirectoryWatch {
  public:
    // Watches `directory` for `name` being created or moved in. If the directory cannot be
    // watched, every check answers "maybe", so callers fall back to looking each time.
    DirectoryWatch(const std::string& directory, std::string name);
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    // Consumes the pending events; true if the name may have appeared since the last check.
    bool nameMayHaveAppeared();

  private:
    int fd_ = -1;
    std::string name_;
};

}  // namespace daq
