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

private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

} // namespace testsupport
