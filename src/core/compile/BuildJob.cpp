#include "quorvane/compile/BuildJob.h"

#include "quorvane/archive/ArchivePaths.h"
#include "quorvane/base/Error.h"
#include "quorvane/base/PathParts.h"
#include "quorvane/base/SizeText.h"
#include "quorvane/compile/FileCollection.h"
#include "quorvane/compile/OutputIcon.h"
#include "quorvane/compile/PackPipeline.h"
#include "quorvane/compile/SearchIndexWriter.h"
#include "quorvane/platform/FileSystem.h"
#include "quorvane/platform/TempFiles.h"
#include "quorvane/project/ProjectPaths.h"
#include "quorvane/viewercore/PageText.h"
#include "quorvane/viewercore/SearchSchema.h"

#include <cmath>
#include <new>

namespace qv {
namespace {

CompressionLevel ArchiveLevel(int32_t setting)
{
    switch (setting) {
    case 1: return CompressionLevel::Fastest;
    case 2: return CompressionLevel::Maximum;
    case 3: return CompressionLevel::None;
    default: return CompressionLevel::Default;
    }
}

std::string ErrorLoadingMessage(const std::string& file, const std::string& name, int32_t index,
                                const std::string& root, const ArchiveWriter& archive)
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

} // namespace

// Where the archive is written before it becomes the output: a folder of
// the build's own beside the output, so the final rename stays on one
// volume and no file of the user's can stand in the way or be taken for it.
class BuildJob::ScratchFolder {
public:
    explicit ScratchFolder(const std::string& outputFolder)
        : folder_(tempfiles::CreateUniqueFolder(outputFolder, ".quorvane-"))
    {
    }
    ~ScratchFolder()
    {
        fs::DeleteFileIfExists(Archive());
        fs::DeleteFileIfExists(SearchIndex());
        if (!output_.empty())
            fs::DeleteFileIfExists(output_);
        tempfiles::RemoveEmptyFolder(folder_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Archive() const { return folder_ + "/website.qpf"; }
    std::string SearchIndex() const { return folder_ + "/search.sqlite"; }
    // Where the output is made whole before it is renamed into place; under
    // its own name, so messages about it name it so.
    const std::string& Output(const std::string& outputPath)
    {
        output_ = folder_ + "/" + std::string(CutAtLastSeparator(outputPath, separators::kEitherSlashOrDrive).name);
        return output_;
    }

private:
    std::string folder_;
    std::string output_;
};

BuildJob::BuildJob(const ProjectSettingsRecord& settings, BuildState& state, Dispatcher& dispatcher, BuildView& view)
    : settings_(settings), state_(state), dispatcher_(dispatcher), view_(view)
{
}

BuildJob::~BuildJob()
{
    WaitFor();
}

void BuildJob::Start()
{
    thread_ = std::thread([this] { Run(); });
}

void BuildJob::WaitFor()
{
    if (thread_.joinable())
        thread_.join();
}

void BuildJob::Run()
{
    Execute();
    // The end notification runs on the user-interface thread after the
    // body; the job object stays alive.
    if (OnTerminate)
        Synchronize([this] { OnTerminate(*this); });
    finished_ = true;
    dispatcher_.Wake();
}

void BuildJob::Cancel()
{
    std::lock_guard lock(archiveMutex_);
    if (archive_)
        archive_->Abort();
}

void BuildJob::SetArchive(std::unique_ptr<ArchiveWriter> archive)
{
    std::unique_ptr<ArchiveWriter> old;
    {
        std::lock_guard lock(archiveMutex_);
        old = std::move(archive_);
        archive_ = std::move(archive);
    }
    // The old writer is destroyed outside the lock, after Cancel can no
    // longer see it.
}

void BuildJob::ArchiveProgress(const std::string& msg, int32_t percentage)
{
    filePercent_ = percentage;
    statusText_ = msg;
    ShowProgress();
}

void BuildJob::SetPackedSize(int64_t bytes)
{
    // The progress window's number is 32 bits: the cut is here and nowhere
    // else (a file that cannot be measured gives -1).
    state_.PackedSize = static_cast<int32_t>(static_cast<uint32_t>(bytes));
    ShowProgress();
}

void BuildJob::ShowProgress()
{
    Synchronize([this] {
        view_.UpdateProgressView(SizeText(state_.PackedSize), statusText_, filePercent_, overallPercent_);
    });
}

void BuildJob::Execute()
{
    try {
        pendingException_ = nullptr;
        state_.CancelRequested = false;
        PrepareOutput();
        CollectSite();
        StartArchive();
        PackFiles();
        if (!state_.CancelRequested)
            AddSearchIndex();
        if (!state_.CancelRequested)
            AddSettingsAndLogo();
        FinishOutput();
    } catch (...) {
        Fail();
    }
}

void BuildJob::PrepareOutput()
{
    auto archive = std::make_unique<ArchiveWriter>();
    archive->SetProgressHandler([this](const std::string& msg, int32_t pct) { ArchiveProgress(msg, pct); });
    archive->SetLevel(ArchiveLevel(settings_.CompressionLevel));
    SetArchive(std::move(archive));
    state_.PackedSize = 0;

    out_ = ResolveOutputPath(settings_);
    outFolder_ = fs::FolderOf(fs::AbsolutePath(out_.empty() ? std::string("./") : out_));
    if (!fs::FolderExists(outFolder_))
        throw Error("The output folder \"" + outFolder_ + "\" does not exist");

    root_ = ProjectRoot(settings_);
    const std::string home = settings_.HomePage.str();
    settings_.HomePage = std::string(CutAtLastSeparator(home, separators::kEitherSlashOrDrive).name);
    if (!fs::FolderExists(root_))
        RaiseOsError("Cannot open folder", root_, ENOENT);
}

void BuildJob::CollectSite()
{
    try {
        CollectFiles(files_, settings_, root_);
    } catch (const UnstorableName&) {
        throw;
    } catch (...) {
        throw Error("Error scanning directory structure");
    }
    if (const auto foreign = NamesOutsideCodePage(files_, root_); !foreign.empty())
        throw Error(ForeignNamesMessage(foreign, root_));
}

void BuildJob::StartArchive()
{
    if (!fs::DeleteFileIfExists(out_))
        throw Error("File already in use!");
    outOwned_ = true;
    scratch_ = std::make_unique<ScratchFolder>(outFolder_);
    archive_->Create(scratch_->Archive());
    overallPercent_ = 0;
}

ArchiveRecord BuildJob::AddedRecord(const std::string& file, const std::string& name)
{
    // A name the code page holds can still come back different (a folder
    // part cut to 255 bytes): the viewers would never find that entry.
    const int32_t index = archive_->IndexOf(name);
    if (index < 0)
        throw Error(ErrorLoadingMessage(file, name, index, root_, *archive_));
    return archive_->Record(index);
}

void BuildJob::PackFiles()
{
    // Asked by the packing threads between blocks; the pipeline ends
    // before the writer goes.
    ArchiveWriter* const writer = archive_.get();
    PackPipeline::Options packing;
    packing.Jobs = JobCount(state_.Jobs);
    packing.Level = writer->Level();
    packing.MemoryBudget = state_.MemoryBudget;
    packing.Stopped = [this, writer] { return state_.CancelRequested.load() || writer->Aborted(); };
    index_.reset();
    if (settings_.SearchIndex) {
        index_ = std::make_unique<SearchIndexWriter>(scratch_->SearchIndex());
        packing.WantsText = [this](size_t i) { return IsIndexedPage(files_[i]); };
    }
    PackPipeline pipeline(files_, std::move(packing));
    PageText text;
    for (size_t i = 0; i < files_.size() && !state_.CancelRequested; ++i) {
        const std::string sitePath = files_[i].substr(root_.size());
        const std::string name = EntryName(sitePath);
        handling_ = files_[i];
        const bool page = index_ && IsIndexedPage(files_[i]);
        pipeline.Add(i, *writer, name, page ? &text : nullptr);
        // In list order, so the index's bytes follow the site, not the threads.
        if (page)
            index_->Add(sitePath, text);
        // A stored entry counts nothing here: only its compressed size does.
        packed_ += AddedRecord(files_[i], name).CompressedSize;
        SetPackedSize(packed_);
        overallPercent_ = static_cast<int32_t>(
            std::nearbyint(static_cast<double>(i + 1) * 100.0 / static_cast<double>(files_.size())));
    }
}

void BuildJob::AddSearchIndex()
{
    if (!index_)
        return;
    handling_.clear();
    statusText_ = "Indexing pages";
    filePercent_ = 0;
    ShowProgress();
    ArchiveWriter& writer = *archive_;
    const std::function<bool()> stopped = [this, &writer] {
        return state_.CancelRequested.load() || writer.Aborted();
    };
    const bool finished = index_->Finish(stopped);
    index_.reset();
    if (!finished)
        return;
    FileStream file(scratch_->SearchIndex(), FileStream::Mode::OpenRead);
    // Stored unchanged, so a viewer reads the database in place.
    const CompressionLevel level = writer.Level();
    writer.SetLevel(CompressionLevel::None);
    try {
        writer.Add(search_schema::kEntryName, file);
    } catch (...) {
        writer.SetLevel(level);
        throw;
    }
    writer.SetLevel(level);
    AddedRecord(search_schema::kEntryName, search_schema::kEntryName);
}

void BuildJob::AddSettingsAndLogo()
{
    handling_.clear();
    state_.FileBuffer.Clear();
    settings_.StampVersion();
    if (!fs::FileExists(settings_.LogoPath.str()))
        settings_.LogoPath = "";
    const auto image = WriteSettingsImage(settings_);
    state_.FileBuffer.Write(image.data(), image.size());
    archive_->Add("-config-", state_.FileBuffer);
    // Checked like the files: an archive without its settings must not
    // pass for a finished build.
    AddedRecord("-config-", "-config-");
    if (fs::FileExists(settings_.LogoPath.str())) {
        handling_ = settings_.LogoPath.str();
        ArchiveWriter& writer = *archive_;
        EntryPacker packer;
        AddFileEntry(writer, packer, "-logo-", handling_,
                     [this, &writer] { return state_.CancelRequested.load() || writer.Aborted(); });
        AddedRecord(handling_, "-logo-");
    }
}

void BuildJob::FinishOutput()
{
    handling_ = scratch_->Archive();
    index_.reset();
    // A cancelled archive is deleted unread: compressing its directory
    // (a large one takes a while) would only delay the end.
    if (state_.CancelRequested)
        archive_->Discard();
    else
        archive_->Close();
    SetArchive(nullptr);

    if (!state_.CancelRequested) {
        if (settings_.OutputIsExe)
            WriteExe();
        else
            WriteQpf();
    }
    // Cancelled while the output was being made, too: it goes.
    if (state_.CancelRequested) {
        ReturnValue = -1;
        fs::DeleteFileIfExists(out_);
    } else {
        ReturnValue = 1;
    }
    scratch_.reset();
}

void BuildJob::WriteExe()
{
    const std::string temp = scratch_->Archive();
    // The EXE is made whole in the scratch folder and renamed into place, so
    // a viewer watching the output never reads a half-made one.
    const std::string exe = scratch_->Output(out_);
    // A failed copy fails the build here, naming the file, rather than as a
    // confusing error of a later step.
    handling_ = out_;
    fs::CopyFile(fs::ProgramFile(state_.ProgramFolder, "viewer.exe"), exe);
    if (!settings_.LogoPath.empty()) {
        statusText_ = "Updating application icon...";
        ShowProgress();
        handling_ = settings_.LogoPath.str();
        ReplaceOutputIcon(exe, settings_.LogoPath.str());
    }
    statusText_ = "Building EXE file";
    ShowProgress();
    handling_ = out_;
    {
        FileStream archive(temp, FileStream::Mode::OpenReadWrite);
        FileStream output(exe, FileStream::Mode::OpenReadWrite);
        output.Seek(output.Size());
        archive.Seek(0);
        if (archive.Size() > 0)
            output.CopyFrom(archive, archive.Size());
        output.Close();
    }
    fs::DeleteFileOrThrow(temp);
    fs::MoveFile(exe, out_);
    SetPackedSize(fs::FileSize(out_));
}

void BuildJob::WriteQpf()
{
    handling_ = out_;
    // A move that fails is a failed build, not a success of -1 Byte(s).
    fs::MoveFile(scratch_->Archive(), out_);
    SetPackedSize(fs::FileSize(out_));
}

void BuildJob::Fail()
{
    state_.CancelRequested = true;
    index_.reset();
    SetArchive(nullptr);
    scratch_.reset();
    if (outOwned_ && !out_.empty())
        fs::DeleteFileIfExists(out_);
    pendingException_ = std::current_exception();
    try {
        throw;
    } catch (const std::bad_alloc&) {
        // A bare "std::bad_alloc" tells nobody what to do.
        pendingException_ = std::make_exception_ptr(Error(OutOfMemoryMessage(handling_)));
    } catch (...) {
    }
    try {
        Synchronize([this] { ShowFailure(); });
    } catch (...) {
        // The error box itself failed; the job still ends as failed.
        ReturnValue = -1;
    }
    pendingException_ = nullptr;
}

void BuildJob::ShowFailure()
{
    ReturnValue = -1;
    std::string message = "Unknown error";
    try {
        if (pendingException_)
            std::rethrow_exception(pendingException_);
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    view_.ShowErrorBox(ErrorBoxText(message));
}

} // namespace qv
