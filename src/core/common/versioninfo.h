#pragma once
// The program's name, version and maker, as its own executable declares them. Qt-free, so
// the Windows implementation compiles with the cross compiler alone.
#include <string>

namespace velomark {

// Fills the three texts (UTF-8) from the version resource of the running program; a value
// that cannot be read stays empty and one trace line says why.
void ReadVersionInfo(std::string &productVersion, std::string &companyName, std::string &productName);

}  // namespace velomark
