// KeyringSecrets: the desktop's keyring (the Secret Service, through
// libsecret) as the keeper of sign-in tokens (oauth/SecretKeeper).  The
// secrets are items of the schema "com.corvanta.QuillfencePro.SignIn" in
// the default collection, one per account (attribute "account").
//
// installKeyringSecrets() asks once whether a Secret Service answers on the
// session bus and, when one does, makes it the keeper; without a session
// bus (a server, a service without a desktop) it returns at once and the
// tokens stay in their files.  Call it at start-up, before sessions run.
#pragma once

// True when the keyring is now the keeper.
bool installKeyringSecrets();
