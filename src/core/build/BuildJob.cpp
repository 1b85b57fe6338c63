#include "quorvane/build/BuildJob.h"

#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/build/FileCollection.h"
#include "quorvane/build/OutputIcon.h"
#include "quorvane/build/PackPipeline.h"
#include "quorvane/base/SizeText.h"
#include "quorvane/archive/ArchiveWriter.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/platform/TempFiles.h"

#include <cmath>
#include <new>
#include <optional>
#include <vector>

namespace qv {
namespace {

// Where the archive is written before it becomes the output: a folder of
// the build's own beside the output, so the final rename stays on one
// volume and no file of the user's can stand in the way or be taken for it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& outputFolder)
        : folder_(tempfiles::CreateUniqueFolder(outputFolder, ".quorvane-"))
    {
    }
    ~ScratchFolder()
    {
        fs::DeleteFileIfExists(Archive());
        tempfiles::RemoveEmptyFolder(folder_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Archive() const { return folder_ + "/website.qpf"; }

private:
    std::string folder_;
};

// The text after the last "/", "\" or ":".
std::string FileNamePart(const std::string& path)
{
    return std::string(CutAtLastSeparator(path, separators::kEitherSlashOrDrive).name);
}

std::string FolderPart(const std::string& path)
{
    return std::string(CutAtLastSeparator(path, separators::kEitherSlashOrDrive).folder);
}

// PackedSize is a signed 32-bit field: an output past 2 GiB wraps, and a
// file that cannot be opened gives -1.
int32_t OutputSize(const std::string& path) { return static_cast<int32_t>(fs::FileSize(path)); }

CompressionLevel ArchiveLevel(int32_t setting)
{
    switch (setting) {
    case 1: return CompressionLevel::Fastest;
    case 2: return CompressionLevel::Maximum;
    case 3: return CompressionLevel::None;
    default: return CompressionLevel::Default;
    }
}

} // namespace

std::string ProjectRoot(const TProjectSettings& settings)
{
    const std::string folder = FolderPart(settings.HomePage.str());
    std::string root = fs::AbsolutePath(folder.empty() ? "./" : folder);
    if (root.empty() || root.back() != '/')
        root += '/';
    return root;
}

std::string ResolveOutputPath(const TProjectSettings& settings)
{
    const std::string out = settings.OutputPath.str();
    if (out.empty() || out.front() == '/')
        return out;
    return fs::AbsolutePath(ProjectRoot(settings) + out);
}

std::string ErrorLoadingMessage(const std::string& file, const std::string& name, int32_t index,
                                const std::string& root, ArchiveWriter& archive)
{
    std::string m = "Error loading " + file + "\r\n" + "Item name: " + name + "\r\n" + "Item number: " +
                    std::to_string(index) + "\r\n" + "Root: " + root + "\r\n" + "\r\n" + "Exists files: -> " + "\r\n";
    const int32_t count = archive.Count();
    for (int32_t i = 0; i < count; ++i) {
        const ArchiveRecord rec = archive.Record(i);
        m += rec.PathText() + rec.NameText() + "\r\n";
    }
    return m;
}

std::string OutOfMemoryMessage(const std::string& file)
{
    if (file.empty())
        return "Not enough memory to finish the build";
    return "Not enough memory to process \"" + file + "\"; close other programs, or leave the file out of the build";
}

CThread::CThread(const TProjectSettings& settings, BuildState& state, Dispatcher& dispatcher, BuildView& view)
    : settings_(settings), state_(state), dispatcher_(dispatcher), view_(view)
{
}

CThread::~CThread()
{
    WaitFor();
}

void CThread::Start()
{
    thread_ = std::thread([this] { Run(); });
}

void CThread::WaitFor()
{
    if (thread_.joinable())
        thread_.join();
}

void CThread::Run()
{
    Execute();
    // The end notification runs on the user-interface thread after the
    // body, as the framework's thread does; the job object stays alive.
    if (OnTerminate)
        Synchronize([this] { OnTerminate(*this); });
    finished_ = true;
    dispatcher_.Wake();
}

void CThread::Cancel()
{
    std::lock_guard lock(archiveMutex_);
    if (Archive)
        Archive->Abort();
}

void CThread::SetArchive(std::unique_ptr<ArchiveWriter> archive)
{
    std::unique_ptr<ArchiveWriter> old;
    {
        std::lock_guard lock(archiveMutex_);
        old = std::move(Archive);
        Archive = std::move(archive);
    }
    // The old writer is destroyed outside the lock, after Cancel can no
    // longer see it.
}

void CThread::ArchiveProgress(const std::string& msg, int32_t percentage)
{
    FilePercent = percentage;
    StatusText = msg;
    ShowProgress();
}

void CThread::ShowProgress()
{
    Synchronize([this] { UpdateProgressView(); });
}

void CThread::UpdateProgressView()
{
    view_.UpdateProgressView(SizeText(state_.PackedSize), StatusText, FilePercent, OverallPercent);
}

void CThread::Execute()
{
    std::string temp, out;
    std::optional<ScratchFolder> scratch;
    // Set once the old output is gone: from then on a file at `out` is this build's own.
    bool outOwned = false;
    try {
        PendingException = nullptr;
        auto archive = std::make_unique<ArchiveWriter>();
        archive->SetProgressHandler([this](const std::string& msg, int32_t pct) { ArchiveProgress(msg, pct); });
        archive->SetLevel(ArchiveLevel(settings_.CompressionLevel));
        SetArchive(std::move(archive));

        state_.PackedSize = 0;
        state_.CancelRequested = false;
        std::vector<std::string> files;

        out = ResolveOutputPath(settings_);
        const std::string outFolder = fs::FolderOf(fs::AbsolutePath(out.empty() ? std::string("./") : out));
        if (!fs::FolderExists(outFolder))
            throw Error("The output folder \"" + outFolder + "\" does not exist");

        const std::string root = ProjectRoot(settings_);
        settings_.HomePage = FileNamePart(settings_.HomePage.str());
        if (!fs::FolderExists(root))
            RaiseOsError("Cannot open folder", root, ENOENT);

        try {
            CollectFiles(files, settings_, root);
        } catch (const UnstorableName&) {
            throw;
        } catch (...) {
            throw Error("Error scanning directory structure");
        }
        if (const auto foreign = NamesOutsideCodePage(files, root); !foreign.empty())
            throw Error(ForeignNamesMessage(foreign, root));

        if (!fs::DeleteFileIfExists(out))
            throw Error("File already in use!");
        outOwned = true;
        scratch.emplace(outFolder);
        temp = scratch->Archive();

        Archive->Create(temp);
        OverallPercent = 0;

        auto confirm = [&](const std::string& file, const std::string& name) {
            const int32_t index = Archive->IndexOf(name);
            if (index < 0)
                throw Error(ErrorLoadingMessage(file, name, index, root, *Archive));
            return Archive->Record(index);
        };

        // Asked by the packing threads between blocks; the pipeline ends
        // before the writer goes.
        ArchiveWriter* const writer = Archive.get();
        const std::function<bool()> stopped = [this, writer] {
            return state_.CancelRequested.load() || writer->Aborted();
        };
        {
            PackPipeline::Options packing;
            packing.Jobs = JobCount(state_.Jobs);
            packing.Level = writer->Level();
            packing.MemoryBudget = state_.MemoryBudget;
            packing.Stopped = stopped;
            PackPipeline pipeline(files, std::move(packing));
            for (size_t i = 0; i < files.size() && !state_.CancelRequested; ++i) {
                std::string name = files[i].substr(root.size());
                for (char& c : name)
                    if (c == '/')
                        c = '\\';
                handling_ = files[i];
                pipeline.Add(i, *Archive, name);
                const ArchiveRecord rec = confirm(files[i], name);
                state_.PackedSize = static_cast<int32_t>(static_cast<uint32_t>(state_.PackedSize) +
                                                         static_cast<uint32_t>(static_cast<uint64_t>(rec.CompressedSize)));
                ShowProgress();
                OverallPercent = static_cast<int32_t>(
                    std::nearbyint(static_cast<double>(i + 1) * 100.0 / static_cast<double>(files.size())));
            }
        }

        if (!state_.CancelRequested) {
            handling_.clear();
            state_.FileBuffer.Clear();
            settings_.StampVersion();
            if (!fs::FileExists(settings_.LogoPath.str()))
                settings_.LogoPath = "";
            const auto image = WriteSettingsImage(settings_);
            state_.FileBuffer.Write(image.data(), image.size());
            Archive->Add("-config-", state_.FileBuffer);
            // Checked like the files: an archive without its
            // settings must not pass for a finished build.
            confirm("-config-", "-config-");
            if (fs::FileExists(settings_.LogoPath.str())) {
                handling_ = settings_.LogoPath.str();
                EntryPacker packer;
                AddFileEntry(*Archive, packer, "-logo-", settings_.LogoPath.str(), stopped);
                confirm(settings_.LogoPath.str(), "-logo-");
            }
        }

        handling_ = temp;
        // A cancelled archive is deleted unread: compressing its directory
        // (a large one takes a while) would only delay the end.
        if (state_.CancelRequested)
            Archive->Discard();
        else
            Archive->Close();
        SetArchive(nullptr);

        if (!state_.CancelRequested) {
            if (settings_.OutputIsExe)
                ExeSteps(out, temp);
            else
                QpfSteps(out, temp);
        }

        if (!state_.CancelRequested) {
            ReturnValue = 1;
        } else {
            ReturnValue = -1;
            fs::DeleteFileIfExists(out);
        }
        scratch.reset();
    } catch (...) {
        state_.CancelRequested = true;
        SetArchive(nullptr);
        scratch.reset();
        if (outOwned && !out.empty())
            fs::DeleteFileIfExists(out);
        PendingException = std::current_exception();
        try {
            throw;
        } catch (const std::bad_alloc&) {
            // A bare "std::bad_alloc" tells nobody what to do.
            PendingException = std::make_exception_ptr(Error(OutOfMemoryMessage(handling_)));
        } catch (...) {
        }
        ReportFailure();
    }
}

void CThread::ExeSteps(const std::string& out, const std::string& temp)
{
    // A failed copy fails the build here, naming the file, rather than as a
    // confusing error of a later step.
    handling_ = out;
    fs::CopyFile(fs::ProgramFile(state_.ProgramFolder, "viewer.exe"), out);
    if (!settings_.LogoPath.empty()) {
        StatusText = "Updating application icon...";
        ShowProgress();
        handling_ = settings_.LogoPath.str();
        ReplaceOutputIcon(out, settings_.LogoPath.str());
    }
    StatusText = "Building EXE file";
    ShowProgress();
    handling_ = out;
    {
        FileStream archive(temp, FileStream::Mode::OpenReadWrite);
        FileStream output(out, FileStream::Mode::OpenReadWrite);
        output.Seek(output.Size());
        archive.Seek(0);
        if (archive.Size() > 0)
            output.CopyFrom(archive, archive.Size());
        output.Close();
    }
    fs::DeleteFileOrThrow(temp);
    state_.PackedSize = OutputSize(out);
    ShowProgress();
}

void CThread::QpfSteps(const std::string& out, const std::string& temp)
{
    handling_ = out;
    // A move that fails is a failed build, not a success of -1 Byte(s).
    fs::MoveFile(temp, out);
    state_.PackedSize = OutputSize(out);
    ShowProgress();
}

void CThread::ReportFailure()
{
    try {
        Synchronize([this] { ShowFailure(); });
    } catch (...) {
        // The error box itself failed; the job still ends as failed.
        ReturnValue = -1;
    }
    PendingException = nullptr;
}

void CThread::ShowFailure()
{
    ReturnValue = -1;
    std::string message = "Unknown error";
    try {
        if (PendingException)
            std::rethrow_exception(PendingException);
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    view_.ShowErrorBox(ErrorBoxText(message));
}

} // namespace qv
