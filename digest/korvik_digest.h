// The exports of the digest library file korvik.DLL: the library defines
// them, and the program loads them by name at run time. Each returns 0 on
// success, otherwise the system's error code (an errno value on POSIX, a
// Win32 error code on Windows). Digests are written as 32 lower-case
// hexadecimal digits, with no terminating zero of their own.
#pragma once

extern "C" {

// Writes the MD5 digest of the named file into `digest`; on failure
// `digest` keeps what it held.
int MDFile(const char* file_name, char* digest);

// Writes the MD5 digest of the first `length` bytes of the named file into
// `digest`, as MDFile does for a whole file; fails where the file is shorter
// (EIO; ERROR_HANDLE_EOF on Windows). A sealed file is verified in place
// with it, without a copy of its body. Libraries made for the one-function
// interface lack it.
int MDFileHead(const char* file_name, long long length, char* digest);

// Starts a digest of bytes handed over piece by piece, its state kept in the
// caller's `context` of `context_size` bytes (kStreamContextSize, aligned as
// kStreamAlignment, are always enough); fails where the context is too
// small. Every started digest ends with MDStreamEnd.
int MDStreamBegin(void* context, long long context_size);

// Adds the next `length` bytes at `data` to the digest in `context`.
int MDStreamUpdate(void* context, const char* data, long long length);

// Ends the digest in `context` and writes it into `digest` as MDFile does;
// a null `digest` abandons it. Releases what the digest held either way;
// the context may then be started anew.
int MDStreamEnd(void* context, char* digest);

}  // extern "C"

namespace korvik::digest {

// The exports' types, for a loader that looks them up by name.
using MDFileFunction = decltype(&::MDFile);
using MDFileHeadFunction = decltype(&::MDFileHead);
using MDStreamBeginFunction = decltype(&::MDStreamBegin);
using MDStreamUpdateFunction = decltype(&::MDStreamUpdate);
using MDStreamEndFunction = decltype(&::MDStreamEnd);

}  // namespace korvik::digest
