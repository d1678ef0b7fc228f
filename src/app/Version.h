// The program's version, and the versions of the libraries it was built
// with: for --version and for the metrics.
#ifndef MT4BRIDGE_APP_VERSION_H_
#define MT4BRIDGE_APP_VERSION_H_

#include <string>

namespace app {

// "1.0.0 (95d4689-dirty)": the project's version and, in brackets, what
// `git describe --always --dirty` said when the build was configured;
// "1.0.0" alone when git could not tell.
std::string versionText();

// What --version prints: "mt4bridge <versionText()>", then one line per
// library ("Qpid Proton 0.37.0", "JsonCpp 1.9.5", "simdjson 3.0.1"), each
// line ending in a line feed. The libraries' versions are those of the
// headers built against.
std::string versionReport();

}  // namespace app

#endif  // MT4BRIDGE_APP_VERSION_H_
