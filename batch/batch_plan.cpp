#include "batch/batch_plan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
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
    return HasReadableExtension(name);
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

namespace {

// What the planner knows of each job before it groups them.
struct JobFacts {
    InputFacts input;
    FileId inputId;
    // The first job reading the file this job's output replaces, or kNoJob.
    uint32_t replacesReadOf = kNoJob;
    uint32_t nextReader = kNoJob;  // the next job reading the same input file
};

// Union-find over job indices; a set's root is its first job in list order.
class JobSets {
  public:
    explicit JobSets(std::size_t count) : m_parent(count) {
        std::iota(m_parent.begin(), m_parent.end(), 0u);
    }
    uint32_t Root(uint32_t job) {
        while (m_parent[job] != job) {
            m_parent[job] = m_parent[m_parent[job]];
            job = m_parent[job];
        }
        return job;
    }
    void Join(uint32_t a, uint32_t b) {
        a = Root(a);
        b = Root(b);
        m_parent[std::max(a, b)] = std::min(a, b);
    }

  private:
    std::vector<uint32_t> m_parent;
};

// `reader` must load its input before `replacer` writes over that file.
struct ReadFirst {
    uint32_t reader;
    uint32_t replacer;
};

std::vector<JobFacts> StatInputs(const std::vector<PlanInput>& inputs,
                                 std::unordered_map<FileId, uint32_t, FileIdHash>& firstReader) {
    std::vector<JobFacts> facts(inputs.size());
    for (std::size_t i = inputs.size(); i-- > 0;) {
        struct stat info {};
        if (::stat(inputs[i].path.c_str(), &info) != 0) {
            facts[i].input.error = errno;
            continue;
        }
        facts[i].input.regular = S_ISREG(info.st_mode);
        facts[i].input.modified = info.st_mtim;
        facts[i].inputId = IdOf(info);
        // Walked backwards, so each chain of readers ends up in list order.
        const auto [first, added] = firstReader.try_emplace(IdOf(info), uint32_t(i));
        if (!added) {
            facts[i].nextReader = first->second;
            first->second = uint32_t(i);
        }
    }
    return facts;
}

Disposition DispositionOf(const JobFacts& facts, const Job& job, const PlanOptions& options,
                          const std::unordered_map<FileId, uint32_t, FileIdHash>& firstReader,
                          uint32_t& replacesReadOf) {
    const InputFacts& input = facts.input;
    if (input.error != 0) {
        return Disposition::Missing;
    }
    if (!input.regular) {
        return Disposition::NotRegular;
    }
    struct stat output {};
    if (::stat(job.output.c_str(), &output) != 0) {
        return Disposition::Run;
    }
    const auto read = firstReader.find(IdOf(output));
    if (read != firstReader.end()) {
        if (!options.overwriteInputs) {
            return Disposition::ReplacesInput;
        }
        replacesReadOf = read->second;
    }
    if (options.update && !Older(output.st_mtim, input.modified)) {
        return Disposition::UpToDate;
    }
    return Disposition::Run;
}

// Puts a group in an order in which jobs with the same output keep their list
// order and a job reading a file runs before the job replacing it. Where jobs
// replace each other's inputs in a circle, list order breaks the circle and the
// reader of an already replaced file waits for it to land.
std::vector<uint32_t> OrderGroup(BatchPlan& plan, const std::vector<uint32_t>& members,
                                 const std::vector<ReadFirst>& rules) {
    const auto local = [&](uint32_t job) {
        return std::size_t(std::lower_bound(members.begin(), members.end(), job) - members.begin());
    };
    std::vector<std::vector<std::size_t>> after(members.size());
    std::vector<std::size_t> waiting(members.size(), 0);
    const auto require = [&](std::size_t first, std::size_t then) {
        after[first].push_back(then);
        ++waiting[then];
    };
    std::unordered_map<std::string_view, std::size_t> lastOfOutput;
    for (std::size_t m = 0; m < members.size(); ++m) {
        const auto [last, added] = lastOfOutput.try_emplace(plan.jobs[members[m]].job.output, m);
        if (!added) {
            require(last->second, m);
            last->second = m;
        }
    }
    for (const ReadFirst& rule : rules) {
        require(local(rule.reader), local(rule.replacer));
    }
    std::set<std::size_t> ready;
    for (std::size_t m = 0; m < members.size(); ++m) {
        if (waiting[m] == 0) {
            ready.insert(m);
        }
    }
    std::vector<uint32_t> order;
    std::vector<bool> placed(members.size(), false);
    std::vector<std::size_t> position(members.size());
    while (order.size() < members.size()) {
        std::size_t next = 0;
        if (!ready.empty()) {
            next = *ready.begin();
            ready.erase(ready.begin());
        } else {
            while (placed[next]) {
                ++next;
            }
        }
        placed[next] = true;
        position[next] = order.size();
        order.push_back(members[next]);
        for (const std::size_t then : after[next]) {
            if (--waiting[then] == 0 && !placed[then]) {
                ready.insert(then);
            }
        }
    }
    for (const ReadFirst& rule : rules) {
        if (position[local(rule.replacer)] < position[local(rule.reader)]) {
            plan.jobs[rule.reader].waitsForEarlier = true;
        }
    }
    return order;
}

// Chains each set's jobs in list order, then reorders the sets that hold a job
// replacing another's input.
void LinkGroups(BatchPlan& plan, JobSets& sets, const std::vector<ReadFirst>& rules) {
    std::vector<uint32_t> tail(plan.jobs.size(), kNoJob);
    for (uint32_t i = 0; i < plan.jobs.size(); ++i) {
        if (plan.jobs[i].disposition != Disposition::Run) {
            continue;
        }
        const uint32_t root = sets.Root(i);
        if (tail[root] == kNoJob) {
            plan.groupHeads.push_back(i);
        } else {
            plan.jobs[tail[root]].nextInGroup = i;
        }
        tail[root] = i;
    }
    std::map<uint32_t, std::vector<ReadFirst>> rulesOf;
    for (const ReadFirst& rule : rules) {
        rulesOf[sets.Root(rule.reader)].push_back(rule);
    }
    std::vector<std::pair<std::size_t, uint32_t>> newHeads;
    for (const auto& [root, groupRules] : rulesOf) {
        std::vector<uint32_t> members;
        for (uint32_t j = root; j != kNoJob; j = plan.jobs[j].nextInGroup) {
            members.push_back(j);
        }
        const std::vector<uint32_t> order = OrderGroup(plan, members, groupRules);
        for (std::size_t k = 0; k < order.size(); ++k) {
            plan.jobs[order[k]].nextInGroup = k + 1 < order.size() ? order[k + 1] : kNoJob;
        }
        const auto at = std::lower_bound(plan.groupHeads.begin(), plan.groupHeads.end(), root);
        newHeads.emplace_back(at - plan.groupHeads.begin(), order.front());
    }
    // Only now: the search above needs the heads in list order.
    for (const auto& [at, head] : newHeads) {
        plan.groupHeads[at] = head;
    }
}

}  // namespace

namespace {

PlannedJob PlanJob(PlanInput& input, JobFacts& facts, const PlanOptions& options,
                   std::optional<OutputFormat> format,
                   const std::unordered_map<FileId, uint32_t, FileIdHash>& firstReader) {
    PlannedJob planned;
    Job& job = planned.job;
    job.output = options.namePrefix ? options.outputFolder + input.relative
                                    : JoinPath(options.outputFolder, input.relative);
    if (format) {
        job.output = WithFormatExtension(job.output, *format);
    }
    job.input = std::move(input.path);
    job.format = format.value_or(OutputFormatFor(job.output));
    planned.disposition = DispositionOf(facts, job, options, firstReader, facts.replacesReadOf);
    planned.error = facts.input.error;
    return planned;
}

// The jobs so far that write one output.
struct OutputWriters {
    uint32_t first = 0;
    uint32_t last = 0;
    bool shared = false;  // by two different inputs
};

// Records that `index` writes the output earlier jobs (`writers`) write.
void NoteRepeatedOutput(BatchPlan& plan, JobSets& sets, OutputWriters& writers, uint32_t index) {
    const Job& job = plan.jobs[index].job;
    // The same file listed twice writes the same picture twice: nothing is lost,
    // so only another input counts as sharing the output.
    const std::string& firstInput = plan.jobs[writers.first].job.input;
    if (!writers.shared && job.input != firstInput) {
        writers.shared = true;
        if (plan.shared.count == 0) {
            plan.shared = {0, job.output, firstInput, job.input};
        }
        ++plan.shared.count;
    }
    sets.Join(writers.last, index);
    writers.last = index;
    plan.duplicates.push_back({job.input, "writes " + job.output +
                                              " as an earlier input does; the later "
                                              "one's output is the one left"});
}

// Every pair of jobs to run of which one replaces the file the other reads.
std::vector<ReadFirst> ReadFirstRules(const BatchPlan& plan, const std::vector<JobFacts>& facts,
                                      JobSets& sets) {
    std::vector<ReadFirst> rules;
    for (uint32_t x = 0; x < plan.jobs.size(); ++x) {
        if (plan.jobs[x].disposition != Disposition::Run) {
            continue;
        }
        for (uint32_t y = facts[x].replacesReadOf; y != kNoJob; y = facts[y].nextReader) {
            if (y != x && plan.jobs[y].disposition == Disposition::Run) {
                rules.push_back({y, x});
                sets.Join(x, y);
            }
        }
    }
    return rules;
}

}  // namespace

BatchPlan MakePlan(std::vector<PlanInput> inputs, const PlanOptions& options,
                   std::optional<OutputFormat> format) {
    BatchPlan plan;
    std::unordered_map<FileId, uint32_t, FileIdHash> firstReader;
    std::vector<JobFacts> facts = StatInputs(inputs, firstReader);

    plan.jobs.reserve(inputs.size());
    std::set<std::string> folders;
    if (!options.namePrefix || options.outputFolder.ends_with('/')) {
        folders.insert(options.outputFolder);
    }
    JobSets sets(inputs.size());
    // Views into the jobs' own output strings: the vector never grows past its reserve.
    std::unordered_map<std::string_view, OutputWriters> writersOf;
    std::unordered_set<FileId, FileIdHash> replaced;
    for (uint32_t i = 0; i < inputs.size(); ++i) {
        plan.jobs.push_back(PlanJob(inputs[i], facts[i], options, format, firstReader));
        if (plan.jobs[i].disposition != Disposition::Run) {
            continue;
        }
        ++plan.runCount;
        const std::string& output = plan.jobs[i].job.output;
        if (const uint32_t reader = facts[i].replacesReadOf; reader != kNoJob) {
            if (replaced.insert(facts[reader].inputId).second && plan.replaced.count++ == 0) {
                // Inputs up to this one have moved into their jobs.
                plan.replaced.first =
                    reader <= i ? plan.jobs[reader].job.input : inputs[reader].path;
            }
        }
        const auto [writers, added] = writersOf.try_emplace(output, OutputWriters{i, i});
        if (!added) {
            NoteRepeatedOutput(plan, sets, writers->second, i);
        } else if (inputs[i].relative.find('/') != std::string::npos) {
            folders.insert(output.substr(0, output.rfind('/')));
        }
    }
    LinkGroups(plan, sets, ReadFirstRules(plan, facts, sets));
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

FileReport RefusalReport(const PlannedJob& planned) {
    FileReport report;
    report.input = planned.job.input;
    report.output = planned.job.output;
    report.status = DispositionStatus(planned.disposition);
    report.reason = DispositionReason(planned);
    return report;
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
