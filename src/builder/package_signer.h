// Authenticode signing of a package's "setup.exe" with osslsigncode, the
// same tool on Linux and on Windows: one set of options and messages, and
// no Windows SDK needed on a build machine. The signature is part of the
// file, so every byte copy of it (the installed "uninstall.exe") carries it.
#pragma once

#include <string>

namespace volok {

struct TSignOptions {
  // A certificate (PEM or DER, the chain after it) or a PKCS#12 file
  // (".pfx", ".p12") that holds the key and the certificate too.
  std::string Certificate;
  // The private key (PEM or DER); empty: the certificate's PEM file holds it.
  std::string Key;
  // A file whose first line is the key's password; empty: none. Only a file
  // is taken: a password on the command line would show in process lists
  // and CI logs.
  std::string PasswordFile;

  bool Enabled() const { return !Certificate.empty(); }
};

// The signing tool's command: $VOLOK_OSSLSIGNCODE when set, else
// "osslsigncode", found along PATH.
std::string SignToolProgram();

// "" when signing can start: every file named exists and the tool starts;
// otherwise why not. `scratch_folder` takes the tool's output briefly.
std::string CheckSigning(const TSignOptions& options, const std::string& scratch_folder);

// Signs `file` (SHA-256) in place; `file` is relative to the current
// folder, where the tool runs, or in the tool's own form. The signed copy is written beside it and
// replaces it only when the tool succeeded, so a failure leaves the file
// unsigned and throws Error with the tool's own first lines.
void SignExecutable(const TSignOptions& options, const std::string& file);

}  // namespace volok
