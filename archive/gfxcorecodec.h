#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

// Facade over GfxCore, the Refp compression library, which is loaded at run
// time by its bare name so that the system's normal library search applies.
//
// While the library is not loaded, no call is made into it: unpackedSize()
// answers 0 (every block counts as not compressed), isCompressed() false, and
// unpack() and compress() fail.
class GfxCoreCodec
{
public:
    // Loads the library and resolves its functions. A missing library or a
    // missing function is a failed load: the message
    // "Initialisation error: GfxCore.dll" goes to the reporting hook and the
    // result is false. Loading when already loaded does nothing.
    static bool load();
    // Releases the library. Harmless when it is not loaded.
    static void unload();
    static bool isLoaded();

    // File name that load() asks the system for. Tests point it elsewhere.
    static QString libraryName();
    static void setLibraryName(const QString &name);

    // The block's unpacked size; 0 when it is not a Refp stream, is cut short,
    // or declares more than its bytes can hold.
    static uint32_t unpackedSize(const void *block, size_t storedLength);
    // The unpacked size of a stream of `streamLength` bytes, of which the
    // first `headLength` (its header, at least) are at `head`; 0 as above.
    static uint32_t streamUnpackedSize(const void *head, size_t headLength, quint64 streamLength);
    // True when the block starts with a Refp header (an empty stream included).
    static bool isCompressed(const void *block, size_t storedLength);
    // Fills `dest` with exactly unpackedSize() bytes. False for a damaged
    // stream or a `capacity` below the unpacked size; `dest` then holds no
    // more than the unpacked size of partial output.
    static bool unpack(const void *block, size_t storedLength, void *dest, size_t capacity);
    // Unpacks no more than the first `want` bytes (fewer when the stream
    // declares fewer) into `dest` and stops: the number written, or -1 for
    // bytes that are not a stream or are damaged before that point.
    static int64_t unpackPrefix(const void *block, size_t storedLength, void *dest, size_t want);

    // The first `want` bytes of the output (fewer when the stream declares
    // fewer) handed to `take` in pieces, in order, none of them kept: for
    // an output too large to hold. Done when all were handed out.
    enum class Pieces
    {
        Done,
        Damaged,  // not a stream, or damaged before `want` bytes
        Stopped,  // `take` answered false
        NoMemory, // GfxCore's buffer of about 1 MiB
    };
    static Pieces unpackPieces(const void *block, size_t storedLength, quint64 want,
                               const std::function<bool(const char *, size_t)> &take);

    // Largest stream compress() can write for `length` bytes.
    static size_t compressBound(size_t length);
    // Writes a Refp stream of `length` bytes (under 4 GiB) into `dest`, which
    // holds at least compressBound(length) bytes, at `level` (0 literals only,
    // 1 fast, 2 the default, 3 best). Returns its length, 0 on failure.
    static size_t compress(const void *source, size_t length, void *dest, size_t capacity,
                           int level = kDefaultLevel);
    // One part of a stream compressed in parts, which may run on several
    // threads: the `length` bytes at `source + history`, at `offset` in a
    // stream of `streamLength` bytes, after the `history` bytes before them
    // (the last 128 KiB are matched against). The part at offset 0 starts the
    // stream, the one that ends it ends it, and the parts in order are the
    // stream. Every part but the last is a multiple of 4 bytes long; `dest`
    // holds compressBound(length). Returns its length, 0 on failure.
    static size_t compressPart(const void *source, size_t history, size_t length, quint64 offset,
                               quint64 streamLength, void *dest, size_t capacity,
                               int level = kDefaultLevel);
    // The history compressPart() can use.
    static constexpr size_t kPartHistory = 128 * 1024;
    static constexpr int kDefaultLevel = 2;
    // Literal runs only: a valid stream of any bytes, at copying speed.
    static constexpr int kStoreLevel = 0;
};
