// How a headless office process is started and reached, for the in-process
// office and for the offices of the shared service alike.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "system/Process.h"

namespace pm::office {

// The command line of a headless office with its own profile (a folder)
// that accepts one UNO connection on the named pipe.
std::vector<std::string> officeCommand(const std::string& profile, const std::string& pipeName);

// What an office may reach: the system's programs, libraries, settings and
// fonts to read, its own folder (profile, temporary files, the copies of the
// documents it is given) to work in, the shared pipe folders to make its
// pipes in, and no TCP port. A document's links to other files or to the
// network then find nothing, whatever the format. Empty (nothing confined)
// when $PRESSMARK_OFFICE_CONFINE is 0.
Confinement officeConfinement(const std::string& ownFolder);

// The file URL of an absolute path as the office is given its profile and
// its documents: every byte outside the unreserved set and "/"
// percent-encoded, so any name survives and the URL is plain ASCII.
std::string asciiFileUrl(const std::string& path);

// The caller's environment without our UNO bootstrap setting (the office
// finds its own), with the office's temporary files in tempDir and without
// lock files beside the documents: they are only read, and a lock left by a
// killed office would keep the next one from opening the same document.
std::vector<std::string> officeEnvironment(const std::string& tempDir);

// The file-creation mask an office runs under. Not the caller's: a
// restrictive one (077) would make the machine-wide files the office creates
// on first use (its shared extension cache) unreadable for every other user,
// a permissive one (000) would let others connect to its pipe. Its own files
// are private through the 0700 folders they are in.
inline constexpr mode_t kOfficeUmask = 022;

// The UNO runtime makes an office's pipe in the shared /tmp (or /var/tmp
// when /tmp is not writable) and cannot be told otherwise while either is,
// so the names must not be guessable: another user who made the socket
// first would receive the client's bridge traffic. A fresh name holds kind,
// the owner's process id (so stale pipes of dead owners are found) and 128
// random bits.
std::string newPipeName(const std::string& kind);
// Where the UNO runtime puts the pipe of that name for this user.
std::string officePipePath(const std::string& pipe);

// Connects to an office's pipe only when it is a socket of this user that
// others cannot write to, and the process listening on it runs as this user.
// Returns the connected descriptor (blocking, close-on-exec); -1 when the
// pipe is not there or not listening yet (try again); -2 when something
// else sits under its name (why says what): never to be connected to.
int connectOfficePipe(const std::string& pipe, std::string& why);

// Removes the named pipe an office made for its connection, when it is this
// user's socket; a killed office leaves it behind.
void removeOfficePipe(const std::string& pipe);

// Besides the connection pipe, every office makes a pipe of its own in the
// same shared folder, through which a second start on the same profile would
// hand over its arguments; its name derives from the profile, and a killed
// office leaves it behind. The name for a profile folder, and its removal
// (when it is this user's socket), once the office on that profile is gone.
std::string singleInstancePipe(const std::string& profile);
void removeSingleInstancePipe(const std::string& profile);

// Removes the pipes of kind that offices of owners no longer running left.
void removeStalePipes(const std::string& kind);

// Whether the process is gone (not merely another user's).
bool processGone(pid_t pid);

// The resident memory of every process of a process group, in kB: an
// office's group holds its launcher and the office program it starts.
long groupMemoryKb(pid_t group);

// The megabytes of resident memory an office's group may hold
// ($PRESSMARK_OFFICE_MEMORY_LIMIT, default 1024): past it, an office at
// work is ended and one given back is replaced.
long officeMemoryLimitKb();

}  // namespace pm::office
