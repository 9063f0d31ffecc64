#include "app/KeyringSecrets.h"

#include "common/CEventLog.h"
#include "oauth/SecretKeeper.h"

#include <libsecret/secret.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

const SecretSchema& schema()
{
    static const SecretSchema made = [] {
        SecretSchema schema{};
        schema.name = "com.corvanta.QuillfencePro.SignIn";
        schema.flags = SECRET_SCHEMA_NONE;
        schema.attributes[0].name = "account";
        schema.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return schema;
    }();
    return made;
}

// A GError the caller owns, freed however the call ends.
struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder()
    {
        if (error != nullptr)
            g_error_free(error);
    }
    std::string text() const { return error != nullptr && error->message != nullptr ? error->message : "failed"; }
};

class KeyringSecrets : public SecretKeeper
{
public:
    std::string name() const override { return "the keyring"; }

    bool keep(const std::string& account, const std::string& secret, std::string& error) override
    {
        ErrorHolder failure;
        const std::string label = "Quillfence Pro sign-in of " + account;
        const gboolean kept = secret_password_store_sync(&schema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                         secret.c_str(), nullptr, &failure.error, "account",
                                                         account.c_str(), nullptr);
        if (!kept)
            error = failure.text();
        return kept;
    }

    Found find(const std::string& account, std::string& secret, std::string& error) override
    {
        ErrorHolder failure;
        gchar* found =
            secret_password_lookup_sync(&schema(), nullptr, &failure.error, "account", account.c_str(), nullptr);
        if (failure.error != nullptr) {
            error = failure.text();
            return Found::Unreachable;
        }
        if (found == nullptr)
            return Found::No;
        secret = found;
        secret_password_free(found);
        return Found::Yes;
    }
};

} // namespace

bool installKeyringSecrets()
{
    // A session bus is one named, or the one at its usual place; none is
    // ever started for this (as the bus library would on an X display).
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if ((address == nullptr || *address == '\0') &&
        (runtime == nullptr || ::stat((std::string(runtime) + "/bus").c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))) {
        CEventLog().LogEvent(4, "No session bus: sign-ins are kept in their files");
        return false;
    }
    ErrorHolder failure;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &failure.error);
    if (bus == nullptr) {
        CEventLog().LogEvent(4, "No session bus (%s): sign-ins are kept in their files", failure.text().c_str());
        return false;
    }
    g_object_unref(bus);
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &failure.error);
    if (service == nullptr) {
        CEventLog().LogEvent(4, "No keyring answers (%s): sign-ins are kept in their files", failure.text().c_str());
        return false;
    }
    g_object_unref(service);
    setSecretKeeper(std::make_unique<KeyringSecrets>());
    CEventLog().LogEvent(4, "Sign-in tokens are kept in the keyring");
    return true;
}
