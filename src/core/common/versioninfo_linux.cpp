#include "common/versioninfo.h"

namespace velomark {

// Executables here carry no version resource, so the build supplies the same values.
void ReadVersionInfo(std::string &productVersion, std::string &companyName, std::string &productName)
{
    productVersion = VELOMARK_PRODUCT_VERSION;
    companyName = VELOMARK_COMPANY_NAME;
    productName = VELOMARK_PRODUCT_NAME;
}

}  // namespace velomark
