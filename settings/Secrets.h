// Secrets kept outside config.ini. A secret key's value may name where
// the secret is instead of holding it:
//   env:NAME   the environment variable NAME;
//   file:PATH  the file's content, without its final line break. A
//              relative PATH is relative to config.ini's folder, and
//              $NAME or ${NAME} in it is the variable's value, so
//              "file:${CREDENTIALS_DIRECTORY}/community" reads what
//              systemd handed the service.
// Any other value is the secret itself.
#ifndef MIBSCAN_SETTINGS_SECRETS_H_
#define MIBSCAN_SETTINGS_SECRETS_H_

#include <string>
#include <string_view>

struct CSecretSource {
  std::string strSecret;  // the secret
  std::string strFile;    // the file it was read from, when "file:"
};

// The secret that strValue stands for, config.ini being strIniPath. False
// when it cannot be had: *pstrWhy says why, naming the variable or the
// file, never a secret.
[[nodiscard]] bool ResolveSecret(std::string_view strValue, const std::string& strIniPath, CSecretSource* pSource,
                                 std::string* pstrWhy);

// True when strValue names a secret elsewhere ("env:" or "file:").
[[nodiscard]] bool IsSecretReference(std::string_view strValue);

#endif  // MIBSCAN_SETTINGS_SECRETS_H_
