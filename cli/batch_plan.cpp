#include "cli/batch_plan.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "app/batch_run.h"

namespace tessary::cli {

namespace {

using FileId = std::pair<dev_t, ino_t>;

struct InputFacts {
    bool exists = false;
    bool regular = false;
    int error = 0;
    FileId id{};
};

InputFacts StatInput(const std::string& path) {
    InputFacts facts;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        facts.error = errno;
        return facts;
    }
    facts.exists = true;
    facts.regular = S_ISREG(info.st_mode);
    facts.id = {info.st_dev, info.st_ino};
    return facts;
}

class InputSet {
  public:
    void Add(const std::string& path, const InputFacts& facts) {
        m_paths.insert(path);
        if (facts.exists) {
            m_ids.insert(facts.id);
        }
    }

    // Plain equality catches a path that does not exist yet; device and inode
    // catch the same file under another spelling or through a link.
    bool Contains(const std::string& path) const {
        if (m_paths.count(path) > 0) {
            return true;
        }
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 &&
               m_ids.count(FileId{info.st_dev, info.st_ino}) > 0;
    }

  private:
    std::set<std::string> m_paths;
    std::set<FileId> m_ids;
};

}  // namespace

std::string OutputPathFor(const std::string& outputFolder, const std::string& input) {
    const std::string name = FileNameFromPath(input);
    if (!outputFolder.empty() && outputFolder.back() == '/') {
        return outputFolder + name;
    }
    return outputFolder + "/" + name;
}

BatchPlan MakePlan(const std::vector<std::string>& inputs, const std::string& outputFolder,
                   bool overwriteInputs) {
    std::vector<InputFacts> facts;
    facts.reserve(inputs.size());
    InputSet inputSet;
    for (const std::string& input : inputs) {
        facts.push_back(StatInput(input));
        inputSet.Add(input, facts.back());
    }

    BatchPlan plan;
    std::map<std::string, std::size_t> groupOfOutput;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string& input = inputs[i];
        if (!facts[i].exists) {
            plan.refusals.push_back({input, std::strerror(facts[i].error)});
            continue;
        }
        if (!facts[i].regular) {
            plan.refusals.push_back({input, "not a regular file"});
            continue;
        }
        std::string output = OutputPathFor(outputFolder, input);
        if (!overwriteInputs && inputSet.Contains(output)) {
            plan.refusals.push_back(
                {input, "the output " + output +
                            " would replace an input file (--overwrite-inputs allows it)"});
            continue;
        }
        auto [entry, added] = groupOfOutput.try_emplace(output, plan.groups.size());
        if (added) {
            plan.groups.emplace_back();
        }
        plan.groups[entry->second].push_back({i, input, std::move(output)});
        ++plan.fileCount;
    }
    return plan;
}

}  // namespace tessary::cli
