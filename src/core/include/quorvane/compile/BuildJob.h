#pragma once
#include "quorvane/archive/ArchiveWriter.h"
#include "quorvane/compile/Dispatcher.h"
#include "quorvane/project/ProjectSettings.h"
#include "quorvane/base/Stream.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv {

// What a build shares with the program around it: the cancel flag, the
// size shown as the output size, the reused settings buffer, where
// "viewer.exe" is found, and how many threads and how much memory packing
// may take. One per program; a job borrows it.
struct BuildState {
    std::atomic<bool> CancelRequested{false};
    // Written by the worker, shown by the progress view. A signed 32-bit
    // number, as the progress window has always taken it: past 2 GiB it
    // wraps (BuildJob::SetPackedSize cuts it).
    int32_t PackedSize = 0;
    MemoryStream FileBuffer;       // the worker's, for the settings entry
    std::string ProgramFolder;     // where "viewer.exe" is looked for (fs::ProgramFile), with a trailing "/"
    unsigned Jobs = 0;             // threads that compress; 0: one per core
    // Compressed bytes held in memory for files waiting for their turn;
    // beyond it they wait in temporary files.
    int64_t MemoryBudget = int64_t{32} << 20;
};

// The user-interface side of a build. Both calls run on the dispatcher's
// thread while the worker waits.
class BuildView {
public:
    virtual ~BuildView() = default;
    virtual void UpdateProgressView(const std::string& sizeText, const std::string& statusText,
                                    int32_t filePercent, int32_t overallPercent) = 0;
    // The program's error box, with its text already formatted.
    virtual void ShowErrorBox(const std::string& text) = 0;
};

// The build job: turns a copy of the project settings into the output
// file on a worker thread of its own.
//
// Life cycle: construct (copies the settings; nothing starts) → Start →
// Execute runs on the worker → OnTerminate runs through the dispatcher →
// WaitFor / destructor joins. The destructor waits for the thread, so it
// must not run on the dispatcher's thread while the job still needs it
// (serve the dispatcher until OnTerminate has run first). Execute never
// lets a failure escape: ReturnValue is 1 when the output was written and
// -1 when the build failed or was cancelled.
//
// Execute runs the steps below in order; each throws what stops the build.
class SearchIndexWriter;

class BuildJob {
public:
    BuildJob(const ProjectSettingsRecord& settings, BuildState& state, Dispatcher& dispatcher, BuildView& view);
    ~BuildJob();
    BuildJob(const BuildJob&) = delete;
    BuildJob& operator=(const BuildJob&) = delete;

    std::atomic<int32_t> ReturnValue{1};
    std::function<void(BuildJob&)> OnTerminate;

    void Start();
    void WaitFor();
    bool Finished() const { return finished_.load(); }

    // User-interface thread: stops a running archive as soon as it can.
    void Cancel();

    // The job's own settings copy (the build normalises its masks, stamps
    // the version and strips the home page to its file name).
    const ProjectSettingsRecord& Settings() const { return settings_; }

private:
    class ScratchFolder;

    void Execute();
    // The output's path and folder, and the project's root; the home page
    // becomes a name below the root.
    void PrepareOutput();
    // The files to pack, refused all at once when a name cannot be stored.
    void CollectSite();
    // Deletes the old output and creates the archive in a folder of the
    // build's own beside it.
    void StartArchive();
    // Every file in list order, compressed on all cores; with the search
    // index on, the pages' text is read in the same pass and indexed.
    void PackFiles();
    // The search index as the stored entry "-search-", when it is on.
    void AddSearchIndex();
    // "-config-", then "-logo-" when the icon file is there.
    void AddSettingsAndLogo();
    // Closes the archive and makes it the output: appended to a copy of
    // "viewer.exe", or moved to the output path. A cancelled build only
    // clears up.
    void FinishOutput();
    void WriteExe();
    void WriteQpf();
    // The record of an entry just added, looked up by the name it was
    // added under as the viewers will.
    ArchiveRecord AddedRecord(const std::string& file, const std::string& name);
    void Fail();

    void ArchiveProgress(const std::string& msg, int32_t percentage);
    void SetPackedSize(int64_t bytes);
    void ShowProgress(); // the progress view, on the user-interface thread
    void ShowFailure();
    void Synchronize(const std::function<void()>& work) { dispatcher_.Synchronize(work); }
    void SetArchive(std::unique_ptr<ArchiveWriter> archive);
    void Run();

    std::string statusText_;
    int32_t filePercent_ = 0;
    int32_t overallPercent_ = 0;
    int64_t packed_ = 0;
    std::unique_ptr<ArchiveWriter> archive_;
    std::mutex archiveMutex_;      // Cancel must never reach a writer being destroyed
    ProjectSettingsRecord settings_;
    std::exception_ptr pendingException_;
    std::string handling_;         // the file being worked on, for a message when memory runs out

    std::string out_;              // the output's path
    std::string outFolder_;
    bool outOwned_ = false;        // the old output is gone: a file at out_ is this build's own
    std::string root_;
    std::vector<std::string> files_;
    std::unique_ptr<ScratchFolder> scratch_;
    std::unique_ptr<SearchIndexWriter> index_;

    BuildState& state_;
    Dispatcher& dispatcher_;
    BuildView& view_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

} // namespace qv
