#include "model/ScanCap.h"

#include "support/Error.h"

namespace dorvex {

const CScanCap::Choice& CScanCap::At(std::int32_t i) const {
    if (i < 1 || i > Length()) throw DorvexError(err::SubscriptOutOfRange, "Subscript out of range");
    return mChoices[static_cast<std::size_t>(i - 1)];
}

const std::string& CScanCap::Item(std::int32_t i) const { return At(i).value; }
const std::string& CScanCap::ItemDesc(std::int32_t i) const { return At(i).text; }

}  // namespace dorvex
