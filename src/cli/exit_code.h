#pragma once

// The exit status of mirka-cli: scripts tell by it how the run ended. When several things
// went wrong, the first of these that applies is the one reported, most telling first:
// interrupted, passphrase, could not link, verification, refused, link lost, other.
namespace mirka::cli {

enum ExitCode : int {
    kExitOk = 0,             // every file sent was received and proven (or fully sent)
    kExitOther = 1,          // a file could not be read or written, no receive folder, ...
    kExitUsage = 2,          // the command line made no sense
    kExitNoLink = 3,         // could not link to the peer, or wait for one
    kExitPassphrase = 4,     // the private link was refused: the passphrases differ
    kExitRefused = 5,        // the peer refused or cancelled a transfer
    kExitUnverified = 6,     // what arrived does not match what was sent
    kExitLinkLost = 7,       // the link ended before every transfer was done
    kExitInterrupted = 130,  // Ctrl-C (or SIGTERM, SIGHUP): disconnected, partial files kept
};

}  // namespace mirka::cli
