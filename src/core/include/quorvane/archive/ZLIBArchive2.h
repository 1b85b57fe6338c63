#pragma once
#include "quorvane/archive/ArchiveLayout.h"
#include "quorvane/base/Stream.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The archive's writer; the container's layout is in ArchiveLayout.h.
namespace qv {

enum class TFileCompressionLevel : uint8_t { fcNone = 0, fcFastest = 1, fcDefault = 2, fcMaximum = 3 };

// The zlib level of a compression level: 0, 1, -1 (zlib's default) or 9.
int ZLibLevel(TFileCompressionLevel level);

class EntryPacker;
class PackSink;
struct PackResult;

// Writes one archive, single pass and append-only.
//
// Life cycle: construct; set the options and OnProgress; CreateArchive(name);
// OpenForWriting(); AddStream once per entry (IndexOf, FileCount and
// GetFileItem work in between); CloseArchive() writes the directory and the
// trailer. The writer can then start the next archive. Destroying it, or a
// new CreateArchive, forgets the directory without writing it.
//
// Throws: CreateArchive "%s already exists in the archive" for a file on
// disk; OpenForWriting the platform's error creating the file; AddStream
// "%s already exists in the archive" for a duplicate entry; AddStream,
// IndexOf and FileCount "No archive is currently open"; GetFileItem "Index
// out of bounds". Every other failure inside AddStream is swallowed and the
// entry is not recorded: check with IndexOf and GetFileItem, and see
// LastAddFailure for the cause.
//
// Entry names are UTF-8 with "\" between folders ("images\logo.png"); they
// become code-page bytes only in the record. All events run on the thread
// that called the operation; only AbortArchive may come from another thread.
class TZLBArc2 {
public:
    explicit TZLBArc2(void* owner = nullptr);
    virtual ~TZLBArc2();
    TZLBArc2(const TZLBArc2&) = delete;
    TZLBArc2& operator=(const TZLBArc2&) = delete;

    // Mebibytes. A source larger than this is compressed through a temporary
    // file. The product is a signed 32-bit number, so 2048 and above wrap.
    int32_t MaxMemoryUsage = 20;
    TFileCompressionLevel CompressionLevel = TFileCompressionLevel::fcDefault;
    // Kept for reading archives; the writer never looks at them.
    bool ExtractWithPath = false;
    bool VerifyArchiveCRC = true;
    bool VerifyFileCRC = false;
    // Whether the folder part of entry names is stored and compared.
    bool SavePaths = false;
    // Only ListFolder descends into subfolders when set.
    bool RecursePaths = false;
    // Folder of the temporary files; the system's when empty.
    std::string TempPath;

    std::function<void(TZLBArc2& Sender)> OnArchiveOpened;
    // Raised after an entry is recorded with its Path and Name as code-page
    // bytes; what the handler leaves there (cut to 255 bytes) is stored.
    std::function<void(std::string& Path, std::string& Name)> OnFileAddUpdate;
    // Encrypting AddStream calls this to turn StrmIn into StrmOut.
    std::function<void(Stream& StrmIn, Stream& StrmOut, const std::string& Password)> OnEncryptStream;
    std::function<void(const std::string& Msg, int32_t Percentage)> OnProgress;
    // Reading-side events; the writer never raises them.
    std::function<void(const std::string& Filename, bool& Replace)> OnReplaceFile;
    std::function<void(const std::string& Filename)> OnFileExtracted;
    std::function<void(const std::string& Filename)> OnStreamExtracted;
    std::function<void(Stream& StrmIn, Stream& StrmOut, uint32_t Size, const std::string& Password)> OnDecryptStream;
    std::function<void(const std::string& Msg)> OnErrorLogged;

    // Starts a new archive; the file is created by OpenForWriting. An empty
    // name leaves no archive open.
    void CreateArchive(const std::string& FileName);
    void OpenForWriting();
    // Compresses Source (from its start, whatever its position) and appends
    // the entry. Encrypting needs both Encrypt and an OnEncryptStream handler.
    void AddStream(const std::string& Name, Stream& Source, bool Encrypt);
    // Adds an entry whose zlib stream an EntryPacker makes, on any thread:
    // `produce` hands the stream and its progress, in order, to the sink it
    // is given and returns the packer's result. OnProgress is raised as the
    // progress arrives, as for AddStream. `source` gives the source again,
    // read only when the entry is stored unchanged. Throws what AddStream
    // throws, and what `produce` throws on its own (the source could not be
    // read); a failure to write or record the entry is swallowed as in
    // AddStream.
    void AddPacked(const std::string& Name, const std::function<PackResult(PackSink&)>& produce,
                   const std::function<Stream&()>& source);
    bool Aborted() const noexcept { return aborted_.load(); }
    // Index of the first entry whose Path and Name match, ASCII letters
    // compared without case; -1 when none does.
    int32_t IndexOf(const std::string& Name) const;
    int32_t FileCount() const;
    // Why the last AddStream or AddPacked recorded nothing (a write to the archive file
    // that failed, say); null when it raised no failure.
    std::exception_ptr LastAddFailure() const { return lastAddFailure_; }
    TZLBFileRec2 GetFileItem(int32_t Index) const;
    TZLBFileRec2 Files(int32_t Index) const { return GetFileItem(Index); }
    void CloseArchive();
    // Makes a running AddStream stop feeding the compressor at its next
    // block, and every later AddStream of this archive skip it. Safe from
    // any thread.
    void AbortArchive() noexcept { aborted_.store(true); }
    // Forgets the archive: directory, name and an unclosed file (left
    // without directory or trailer). Raises OnProgress("", 0).
    void Reset();

    const std::string& ArchiveName() const { return archiveName_; }
    void* Owner() const { return owner_; }

    // A new, uniquely named, empty file "ZLB....tmp" in TempPath or the
    // system's temporary folder.
    virtual std::string MakeTempFileName();
    // Adds the full names of the files in Folder (sorted by name, without
    // regard to case); subfolders are descended into with RecursePaths and
    // listed themselves with SavePaths.
    virtual void ListFolder(const std::string& Folder, std::vector<std::string>& List);

private:
    enum class Operation { None, Adding, WritingDirectory, Resetting };
    class ArchiveOutput;
    class EntryWriter;

    void CheckNewEntry(const std::string& name) const;
    void BeginProgress(const std::string& name, int64_t total);
    TZLBFileRec2 NewRecord(const std::string& name, int64_t size, int64_t position) const;
    void AddEntry(const std::string& name, Stream& source, bool encrypt);
    void Record(TZLBFileRec2 record);
    void WriteRegistry();
    void FeedDirectory() noexcept;
    bool WriteEarlyDirectory(PackSink& out);
    void DispatchProgress(int64_t consumed);
    int64_t MemoryLimit() const;
    int64_t FilePosition(int64_t archiveOffset) const;
    std::string LookupKey(const std::string& name) const;

    void* owner_;
    std::atomic<bool> aborted_{false};
    std::unique_ptr<ArchiveOutput> archive_;
    int mode_ = 0;
    std::string archiveName_;
    TZLBTrailer2 trailer_;
    // A deque: a vector's doubling would hold two copies of a big directory
    // while it grows.
    std::deque<TZLBFileRec2> records_;
    // ASCII-lowered "Path + Name" of the records as UTF-8, to the first
    // index that has it: IndexOf without walking the directory.
    std::unordered_map<std::string, int32_t> index_;
    Operation operation_ = Operation::None;
    std::string progressMessage_;
    int64_t progressTotal_ = 0;
    int64_t progressDone_ = 0;
    std::string password_;
    int64_t positionMarker_ = -1;
    bool olderVersion_ = false;
    bool destroying_ = false;
    std::exception_ptr lastAddFailure_;
    // One compressor state serves every entry and the directory.
    std::unique_ptr<EntryPacker> packer_;
    // What EntryWriter holds back of the entry being added.
    std::vector<uint8_t> held_;
    // The directory compressed while the entries are added, so that closing
    // only writes it; dropped for compression at closing when anything
    // about it fails or the level changes.
    struct EarlyDirectory;
    std::unique_ptr<EarlyDirectory> early_;
    bool earlyOff_ = false;
};

} // namespace qv
