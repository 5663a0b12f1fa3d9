// A fresh platform root in a temporary folder for one test, removed afterwards.
#pragma once

#include <string>

namespace testsupport {

class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string file(const std::string& relative) const;
    // The Windows path of a path on drive C ("C:\\logs\\trace.log") inside this root, whose file("drive_c")
    // is drive C over the platform layer: the path itself there, that folder's path on Windows.
    std::string windowsPath(const std::string& pathOnC) const;

private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

} // namespace testsupport
