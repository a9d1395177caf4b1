#include "CliHelp.h"

namespace {

constexpr const char* kOverview = R"(Usage: avlt [--user NAME] [--password-file FILE] COMMAND [OPTIONS] ARGS...

Vaults (encrypts) files into .avlt containers and unvaults them again, with the
accounts and key-ring files of the Ardentvault desktop application
($HOME/Documents/Ardentvault/).

Commands:
  account create-local     create a local account; prints its six-digit id
  account register         register a server account for an e-mail address
  account verify           complete a registration with the mailed code
  account signin           sign in (fetching newer keys) and show the account
  account whoami           show the account that would be used (no password)
  account change-password  give the account a new password
  account recover          new password from this computer's recovery key
  account reset            new password and new keys (old files stay closed)
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
       avlt account register --email ADDRESS --first NAME --last NAME [--no-recovery]
       avlt account verify --email ADDRESS --code CODE [--no-recovery]
       avlt [--user NAME] account signin
       avlt [--user NAME] account whoami
       avlt [--user NAME] account change-password [--no-recovery]
       avlt account recover --email ADDRESS [--code CODE]
       avlt account reset --email ADDRESS [--code CODE] [--no-recovery]

create-local     creates a local account: a six-digit id with a new key pair
                 in its own key-ring file, sealed with the password (from
                 --password-file, AVLT_PASSWORD or asked twice). The id is
                 printed; use it as --user NAME (or AVLT_USER) later.
register         registers a server account with the key server and prints
                 its login id. The server mails a verification code.
verify           completes the registration with the mailed code and a new
                 password, makes the account's first key pair and signs in
                 once, which puts the account's key-ring file on this computer.
signin           signs in: the key server checks the password and hands out
                 newer keys, which are stored in the key-ring file. Prints the
                 account, its names and keys.
whoami           prints the account that would be used, from its key-ring
                 file: name, kind, id, names, whether recovery is on.
change-password  re-seals every key with a new password, on the key server
                 and in the key-ring file; every file stays readable.
recover          for a forgotten password, on a computer that holds the
                 account's key-ring file with recovery on: without --code the
                 key server mails a recovery code; with it, the credentials are
                 rebuilt and a new password is set. Every file stays readable.
reset            for a forgotten password without a recovery key: without
                 --code the key server mails a reset code; with it, the account
                 gets a new password and a NEW key pair. Files vaulted for the
                 old keys can no longer be opened.

New passwords come from --new-password-file FILE (first line), else
$AVLT_NEW_PASSWORD, else they are asked twice on the terminal. --no-recovery
keeps no recovery half (of the key derived from the password) in the
key-ring file and on the key server; a lost password can then only be reset.
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
container's users. Users whose public key this computer does not know yet are
looked up on the key server (and kept in the public key cache); with
--offline only the cache is used. Leave yourself out and you can no longer
open the file.
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
