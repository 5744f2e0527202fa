#pragma once
// Trust of the local certificate in NSS databases (Chromium's ~/.pki/nssdb and the
// Firefox profiles), through the NSS `certutil` tool run as a child process.
#include <string>
#include <vector>

namespace lumvane {

class NSSTrust {
  public:
    // certutil: the program to run ("certutil" is looked up on PATH).
    explicit NSSTrust(std::string certutil = "certutil");

    // A folder holding an NSS database (cert9.db, or the older cert8.db).
    static bool hasDatabase(const std::string& folder);

    // Creates an empty database without password in the folder (made 0700 when missing).
    bool createDatabase(const std::string& folder) const;

    // Replaces every certificate under the nickname with the one in the PEM file, trusted
    // for TLS servers ("CP,,": trusted as an anchor and as a peer, so both Chromium's and
    // Firefox's verifiers accept the self-signed leaf).
    bool importTrusted(const std::string& folder, const std::string& nickname,
                       const std::string& certificateFile) const;

    // True when the database holds this very certificate under the nickname and trusts it
    // for TLS servers. An older certificate under the same nickname does not count.
    bool isTrusted(const std::string& folder, const std::string& nickname,
                   const std::string& certificatePem) const;

    // True when the database holds any certificate under the nickname.
    bool hasNickname(const std::string& folder, const std::string& nickname) const;

    // Removes every certificate under the nickname.
    void removeNickname(const std::string& folder, const std::string& nickname) const;

  private:
    // The SSL trust flags of the nickname as listed by certutil, empty when not present.
    std::string sslTrustFlags(const std::string& folder, const std::string& nickname) const;

    std::string certutil_;
};

}  // namespace lumvane
