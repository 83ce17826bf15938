// The random seed from BCryptGenRandom and the version resource of the running program.
#include "common/versioninfo.h"
#include "crypto/random.h"
#include "wintest.h"

#include <algorithm>

namespace velomark::wintest {

void testRandomSeed()
{
    const std::string where = "random seed";
    const std::uint8_t fill = 0xA5;
    std::vector<std::uint8_t> first(32, fill), second(32, fill);
    check(operatingSystemSeed(first.data(), first.size()), where, "first seed");
    check(operatingSystemSeed(second.data(), second.size()), where, "second seed");
    // Bytes the call left alone keep the fill; a few may match it by chance, not 32.
    check(std::count(first.begin(), first.end(), fill) < 8, where, "the seed fills all 32 bytes");
    check(first != second, where, "two seeds differ");
}

void testVersionInfo()
{
    const std::string where = "version information";
    std::string version = "old", company = "old", product = "old";
    ReadVersionInfo(version, company, product);
    checkEqual(version, std::string("1.3 Build 96"), where, "ProductVersion");
    checkEqual(company, std::string("Veltrazon Technology"), where, "CompanyName");
    checkEqual(product, std::string("Velomark"), where, "ProductName");
}

}  // namespace velomark::wintest
