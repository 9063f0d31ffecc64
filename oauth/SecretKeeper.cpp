#include "oauth/SecretKeeper.h"

namespace {

std::unique_ptr<SecretKeeper>& keeperSlot()
{
    static std::unique_ptr<SecretKeeper> keeper;
    return keeper;
}

} // namespace

void setSecretKeeper(std::unique_ptr<SecretKeeper> keeper)
{
    keeperSlot() = std::move(keeper);
}

SecretKeeper* secretKeeper()
{
    return keeperSlot().get();
}
