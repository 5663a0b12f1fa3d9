// The control file the monitor sends for an LPR job: host PC1, user, job and document name, the
// data file to print and to unlink.
#pragma once

#include <string>

namespace montest {

inline std::string controlFile(const std::string& document, const std::string& user = "alice",
                               const std::string& names = "234PC1")
{
    return "HPC1\nP" + user + "\nJ" + document + "\nN" + document + "\nldfA" + names + "\nUdfA" + names + "\n";
}

} // namespace montest
