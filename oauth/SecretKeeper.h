// SecretKeeper: where the tokens of kept sign-ins go when the desktop has a
// keyring.  The program sets one keeper at start-up, before any session
// runs (app/KeyringSecrets, through libsecret); oauth/TokenFile then keeps
// the tokens there and only the provider and the expiry in the account's
// file.  Without a keeper, or when it cannot keep a secret, the tokens stay
// in the 0600 file.  A keeper is called from any thread.
#pragma once

#include <memory>
#include <string>

class SecretKeeper
{
public:
    virtual ~SecretKeeper() = default;

    // What the keeper is, for messages: "the keyring".
    virtual std::string name() const = 0;
    // False with error when the secret was not kept.
    virtual bool keep(const std::string& account, const std::string& secret, std::string& error) = 0;
    enum class Found { Yes, No, Unreachable };
    // Unreachable with error when the keeper could not be asked.
    virtual Found find(const std::string& account, std::string& secret, std::string& error) = 0;
};

// Null: the tokens stay in the files.
void setSecretKeeper(std::unique_ptr<SecretKeeper> keeper);
SecretKeeper* secretKeeper();
