#pragma once
#include "quorvane/build/Dispatcher.h"
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

namespace qv {

class ArchiveWriter;

// What a build shares with the program around it: the cancel flag, the
// size shown as the output size, the reused settings buffer, where
// "viewer.exe" is found, and how many threads and how much memory packing
// may take. One per program; a job borrows it.
struct BuildState {
    std::atomic<bool> CancelRequested{false};
    int32_t PackedSize = 0;        // written by the worker, read in UpdateProgressView
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
class CThread {
public:
    CThread(const TProjectSettings& settings, BuildState& state, Dispatcher& dispatcher, BuildView& view);
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    std::atomic<int32_t> ReturnValue{1};
    bool FreeOnTerminate = false;  // kept for the shape of the framework's thread; jobs are owned
    std::function<void(CThread&)> OnTerminate;

    void Start();
    void WaitFor();
    bool Finished() const { return finished_.load(); }

    // User-interface thread: stops a running archive as soon as it can.
    void Cancel();

    // The job's own settings copy (the build normalises its masks, stamps
    // the version and strips the home page to its file name).
    const TProjectSettings& Settings() const { return settings_; }

protected:
    virtual void Execute();
    virtual void ReportFailure();

private:
    void ArchiveProgress(const std::string& msg, int32_t percentage);
    void UpdateProgressView();
    void ShowProgress(); // UpdateProgressView on the user-interface thread
    void ShowFailure();
    void Synchronize(const std::function<void()>& work) { dispatcher_.Synchronize(work); }
    void SetArchive(std::unique_ptr<ArchiveWriter> archive);
    void ExeSteps(const std::string& out, const std::string& temp);
    void QpfSteps(const std::string& out, const std::string& temp);
    void Run();

    std::string StatusText;
    int32_t FilePercent = 0;
    int32_t OverallPercent = 0;
    std::unique_ptr<ArchiveWriter> Archive;
    std::mutex archiveMutex_;      // Cancel must never reach a writer being destroyed
    TProjectSettings settings_;
    std::exception_ptr PendingException;
    std::string handling_;         // the file being worked on, for a message when memory runs out

    BuildState& state_;
    Dispatcher& dispatcher_;
    BuildView& view_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

// The "Error loading" message of an entry the archive did not record.
std::string ErrorLoadingMessage(const std::string& file, const std::string& name, int32_t index,
                                const std::string& root, ArchiveWriter& archive);

// What a build that ran out of memory says, naming the file it was
// working on (none: the build as a whole).
std::string OutOfMemoryMessage(const std::string& file);

// The project's root folder: the home page's folder made absolute, with a
// trailing "/".
std::string ProjectRoot(const TProjectSettings& settings);

// Where a build puts its output: the settings' OutputPath, taken relative
// to the project's root folder when it is relative.
std::string ResolveOutputPath(const TProjectSettings& settings);

} // namespace qv
