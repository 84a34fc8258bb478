#include "app/batch_plan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace tessary {

namespace {

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

struct FileIdHash {
    std::size_t operator()(const FileId& id) const {
        return std::hash<uint64_t>()(uint64_t(id.inode) * 0x9E3779B97F4A7C15ull ^
                                     uint64_t(id.device));
    }
};

FileId IdOf(const struct stat& info) {
    return {info.st_dev, info.st_ino};
}

bool EndsWithIgnoringCase(const std::string& name, std::string_view tail) {
    if (name.size() < tail.size()) {
        return false;
    }
    return std::equal(
        tail.begin(), tail.end(), name.end() - static_cast<long>(tail.size()),
        [](char t, char c) { return t == (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
}

// One entry of a folder as the walk orders it: a subfolder sorts as its name
// with a "/" after it, so the walk visits files in byte order of their whole
// relative paths.
struct WalkEntry {
    std::string key;
    bool folder = false;
    FileId id;
};

class FolderWalk {
  public:
    FolderWalk(bool recursive, std::vector<PlanInput>& files, std::vector<InputProblem>& problems)
        : m_bRecursive(recursive), m_files(files), m_problems(problems) {}

    void Walk(const std::string& folder, const std::string& relative, FileId id) {
        m_ancestors.push_back(id);
        std::vector<WalkEntry> entries;
        if (ReadFolder(folder, entries)) {
            std::sort(entries.begin(), entries.end(),
                      [](const WalkEntry& a, const WalkEntry& b) { return a.key < b.key; });
            for (const WalkEntry& entry : entries) {
                Visit(folder, relative, entry);
            }
        }
        m_ancestors.pop_back();
    }

  private:
    bool ReadFolder(const std::string& folder, std::vector<WalkEntry>& entries) {
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            m_problems.push_back(
                {folder, std::string("cannot read the folder: ") + std::strerror(errno)});
            return false;
        }
        errno = 0;
        while (const dirent* raw = ::readdir(dir)) {
            const std::string name = raw->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            bool isFolder = raw->d_type == DT_DIR;
            FileId id;
            if (raw->d_type == DT_LNK || raw->d_type == DT_UNKNOWN || (isFolder && m_bRecursive)) {
                struct stat info {};
                if (::fstatat(::dirfd(dir), raw->d_name, &info, 0) != 0) {
                    // A dangling link: take it as a file, so that the run reports it.
                    isFolder = false;
                } else {
                    isFolder = S_ISDIR(info.st_mode);
                    id = IdOf(info);
                }
            }
            if (isFolder && m_bRecursive) {
                entries.push_back({name + "/", true, id});
            } else if (!isFolder && HasImageExtension(name)) {
                entries.push_back({name, false, id});
            }
            errno = 0;
        }
        const int error = errno;
        ::closedir(dir);
        if (error != 0) {
            m_problems.push_back(
                {folder, std::string("cannot read the folder: ") + std::strerror(error)});
        }
        return true;
    }

    void Visit(const std::string& folder, const std::string& relative, const WalkEntry& entry) {
        const std::string path = JoinPath(folder, entry.key);
        if (!entry.folder) {
            m_files.push_back({path, relative + entry.key});
            return;
        }
        const std::string subfolder = path.substr(0, path.size() - 1);
        if (std::find(m_ancestors.begin(), m_ancestors.end(), entry.id) != m_ancestors.end()) {
            m_problems.push_back(
                {subfolder, "a symbolic-link loop: the folder contains itself; not followed"});
            return;
        }
        Walk(subfolder, relative + entry.key, entry.id);
    }

    bool m_bRecursive;
    std::vector<PlanInput>& m_files;
    std::vector<InputProblem>& m_problems;
    std::vector<FileId> m_ancestors;
};

// What the planner needs to know of one input.
struct InputFacts {
    int error = 0;  // of stat; 0 when it exists
    bool regular = false;
    struct timespec modified {};
};

bool Older(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

}  // namespace

bool HasImageExtension(const std::string& name) {
    for (std::string_view extension : {".jpg", ".jpeg", ".gif", ".bmp", ".png", ".tif", ".tiff"}) {
        if (EndsWithIgnoringCase(name, extension)) {
            return true;
        }
    }
    return false;
}

std::string JoinPath(const std::string& folder, const std::string& relative) {
    if (folder.empty() || folder.back() == '/') {
        return folder + relative;
    }
    return folder + "/" + relative;
}

void ExpandInput(const std::string& argument, bool recursive, std::vector<PlanInput>& files,
                 std::vector<InputProblem>& problems) {
    struct stat info {};
    if (::stat(argument.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        FolderWalk(recursive, files, problems).Walk(argument, "", IdOf(info));
        return;
    }
    files.push_back({argument, FileNameFromPath(argument)});
}

ReplacedOriginals FindReplacedOriginals(const std::vector<Job>& jobs) {
    std::unordered_map<FileId, std::size_t, FileIdHash> inputs;  // id -> first job
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        struct stat info {};
        if (::stat(jobs[i].input.c_str(), &info) == 0) {
            inputs.try_emplace(IdOf(info), i);
        }
    }
    ReplacedOriginals replaced;
    std::unordered_set<FileId, FileIdHash> counted;
    for (const Job& job : jobs) {
        struct stat info {};
        if (::stat(job.output.c_str(), &info) != 0) {
            continue;
        }
        const auto found = inputs.find(IdOf(info));
        if (found != inputs.end() && counted.insert(found->first).second) {
            if (replaced.count++ == 0) {
                replaced.first = jobs[found->second].input;
            }
        }
    }
    return replaced;
}

std::string CreateOutputFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        const std::string why = error ? error.message() : std::string(std::strerror(errno));
        return "cannot create the output folder: " + why;
    }
    if (!S_ISDIR(info.st_mode)) {
        return "the output folder exists and is not a folder";
    }
    return {};
}

BatchPlan MakePlan(std::vector<PlanInput> inputs, const PlanOptions& options) {
    BatchPlan plan;
    std::vector<InputFacts> facts(inputs.size());
    std::unordered_set<FileId, FileIdHash> inputIds;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        struct stat info {};
        if (::stat(inputs[i].path.c_str(), &info) != 0) {
            facts[i].error = errno;
            continue;
        }
        facts[i].regular = S_ISREG(info.st_mode);
        facts[i].modified = info.st_mtim;
        inputIds.insert(IdOf(info));
    }

    plan.jobs.reserve(inputs.size());
    std::set<std::string> folders = {options.outputFolder};
    // Views into the jobs' own output strings: the vector never grows past its reserve.
    std::unordered_map<std::string_view, uint32_t> lastOfOutput;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        PlannedJob planned;
        planned.job.output = JoinPath(options.outputFolder, inputs[i].relative);
        if (options.format) {
            planned.job.output = WithFormatExtension(planned.job.output, *options.format);
        }
        planned.job.input = std::move(inputs[i].path);
        planned.job.format = options.format.value_or(OutputFormatFor(planned.job.output));
        planned.nextSameOutput = kNoJob;
        struct stat output {};
        const bool outputExists = ::stat(planned.job.output.c_str(), &output) == 0;
        if (facts[i].error != 0) {
            planned.disposition = Disposition::Missing;
            planned.error = facts[i].error;
        } else if (!facts[i].regular) {
            planned.disposition = Disposition::NotRegular;
        } else if (outputExists && !options.overwriteInputs && inputIds.count(IdOf(output)) > 0) {
            planned.disposition = Disposition::ReplacesInput;
        } else if (outputExists && options.update && !Older(output.st_mtim, facts[i].modified)) {
            planned.disposition = Disposition::UpToDate;
        }
        plan.jobs.push_back(std::move(planned));
        if (plan.jobs.back().disposition != Disposition::Run) {
            continue;
        }
        const uint32_t index = static_cast<uint32_t>(plan.jobs.size() - 1);
        const Job& job = plan.jobs.back().job;
        const auto [last, added] = lastOfOutput.try_emplace(job.output, index);
        if (added) {
            plan.groupHeads.push_back(index);
            if (inputs[i].relative.find('/') != std::string::npos) {
                folders.insert(job.output.substr(0, job.output.rfind('/')));
            }
        } else {
            plan.jobs[last->second].nextSameOutput = index;
            plan.duplicates.push_back({job.input, "writes " + job.output +
                                                      " as an earlier input does; the later "
                                                      "one's output is the one left"});
            last->second = index;
        }
        ++plan.runCount;
    }
    plan.folders.assign(folders.begin(), folders.end());
    return plan;
}

FileStatus DispositionStatus(Disposition disposition) {
    switch (disposition) {
        case Disposition::Run:
            return FileStatus::Written;
        case Disposition::UpToDate:
            return FileStatus::Skipped;
        case Disposition::Missing:
        case Disposition::NotRegular:
        case Disposition::ReplacesInput:
            break;
    }
    return FileStatus::Failed;
}

std::string DispositionReason(const PlannedJob& planned) {
    switch (planned.disposition) {
        case Disposition::Run:
            break;
        case Disposition::Missing:
            return std::strerror(planned.error);
        case Disposition::NotRegular:
            return "not a regular file";
        case Disposition::ReplacesInput:
            return "the output " + planned.job.output + " would replace an input file";
        case Disposition::UpToDate:
            return "the output is up to date";
    }
    return {};
}

}  // namespace tessary
