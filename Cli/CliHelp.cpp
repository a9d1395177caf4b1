#include "CliHelp.h"

namespace {

constexpr const char* kOverview = R"(Usage: avlt [--user NAME] [--password-file FILE] COMMAND [OPTIONS] ARGS...

Vaults (encrypts) files into .avlt containers and unvaults them again, with the
accounts and key-ring files of the Ardentvault desktop application
($HOME/Documents/Ardentvault/).

Commands:
  account create-local     create a local account; prints its six-digit id
  vault PATH...            vault files and folders into .avlt containers
  unvault PATH...          unvault .avlt containers into plain files
  info FILE.avlt...        show a container's headers and shares (no password)
  shares FILE.avlt         list the users a container is shared with
  shred PATH...            overwrite files with random bytes and delete them

Global options:
  --user NAME              the account to use; else $AVLT_USER; else the only
                           key-ring file in the data folder
  --password-file FILE     read the password from the first line of FILE; else
                           $AVLT_PASSWORD; else ask on the terminal (no echo)
  --offline                never contact the key server (other users' keys then
                           come only from the local cache)
  --log                    write the diagnostic log Ardentvault.log in the data folder
  -h, --help               show this help; "avlt COMMAND --help" for a command

The key server is https://keys.ardentvault.org unless ARDENTVAULT_SERVER_URL
names another (ARDENTVAULT_CA_FILE adds a trusted certificate authority).
Relative paths are taken from the folder avlt was started in. A progress bar
is drawn on standard error when it is a terminal. Exit status: 0 on success,
1 when something failed (one line per failure on standard error, with the
result code in hexadecimal), 2 for a wrong command line, 130 when cancelled.
)";

constexpr const char* kAccount = R"(Usage: avlt account create-local [--password-file FILE]

Creates a local account: a six-digit id with a new key pair in its own
key-ring file, sealed with the password. The id is printed on standard output;
use it as --user NAME (or AVLT_USER) later. On a terminal the password is asked
twice.
)";

constexpr const char* kVault = R"(Usage: avlt [--user NAME] vault [--to DIR] [--remove-source] [--overwrite] PATH...

Vaults each file into a container shared with the signed-in account. Folders
are walked; files already vaulted (ending in .avlt) are skipped.

  --to DIR           write the containers into DIR (a folder keeps its own name
                     and inner structure below DIR); default: beside each file
  --remove-source    shred each plain file (one pass) once it is vaulted
  --overwrite        replace containers that exist; otherwise they are refused

A container that exists is only replaced once the new one is complete; a
failed or cancelled run leaves it as it was.
)";

constexpr const char* kUnvault = R"(Usage: avlt [--user NAME] unvault [--to DIR] [--remove-source] [--overwrite] PATH...

Unvaults each container into a plain file named like it without ".avlt".
Folders are walked; files that are not containers are skipped.

  --to DIR           write the plain files into DIR (a folder keeps its own
                     name and inner structure below DIR); default: beside each
  --remove-source    delete each container once it is unvaulted
  --overwrite        replace plain files that exist; otherwise they are refused

A plain file that exists is only replaced once the new one is complete.
)";

constexpr const char* kInfo = R"(Usage: avlt info FILE.avlt...

Shows each container's format version, file key id, data size, segment size,
pad count and every share slot in file order: the user name and key id, or a
deleted slot. Needs no account or password.
)";

constexpr const char* kShares = R"(Usage: avlt [--user NAME] shares FILE.avlt [--set USER,USER,...]

Without --set, lists the users the container is shared with, one per line (no
password needed). With --set, signs in and makes exactly these users the
container's users; each one's public key must be known to the key ring. Leave
yourself out and you can no longer open the file.
)";

constexpr const char* kShred = R"(Usage: avlt shred [--passes N] FILE...

Overwrites each file N times with random bytes (default 1, at most 32; 0 only
deletes) and deletes it. Folders and symbolic links are refused.
)";

} // namespace

std::string CliHelp::text(const std::string& command)
{
    if (command == "account")
        return kAccount;
    if (command == "vault")
        return kVault;
    if (command == "unvault")
        return kUnvault;
    if (command == "info")
        return kInfo;
    if (command == "shares")
        return kShares;
    if (command == "shred")
        return kShred;
    return kOverview;
}
