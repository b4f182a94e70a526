#include "DatabaseSet.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "DbcReader.h"

namespace dbc {

std::string BaseName(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DatabaseSet::Load(const std::string &path) {
    std::error_code error;
    std::string absolute = std::filesystem::weakly_canonical(path, error).string();
    if (error) absolute = path;
    if (std::find(paths_.begin(), paths_.end(), absolute) != paths_.end()) return path + ": loaded already";
    LoadResult loaded = LoadDbcFile(path);
    if (!loaded.database) return loaded.error;
    const std::string name = BaseName(path);
    for (const Message &m : loaded.database->messages) {
        const Found earlier = Find(m.id, m.extended);
        if (!earlier.message) continue;
        char id[16];
        std::snprintf(id, sizeof id, "0x%X", static_cast<unsigned>(m.id));
        const std::string first = BaseName(files_[earlier.file]->fileName);
        shadowed_.push_back(name + ":" + std::to_string(m.line) + ": " + id + " " + m.name +
                            " is defined in " + first + " already (" + earlier.message->name + "); " + first +
                            "'s is used");
    }
    mostSignals_ = std::max(mostSignals_, loaded.database->MostSignals());
    files_.push_back(std::move(loaded.database));
    paths_.push_back(std::move(absolute));
    return {};
}

DatabaseSet::Found DatabaseSet::Find(uint32_t id, bool extended) const {
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (const Message *m = files_[i]->Find(id, extended)) return {m, i};
    return {};
}

std::vector<std::size_t> DatabaseSet::FilesDefining(uint32_t id, bool extended) const {
    std::vector<std::size_t> files;
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (files_[i]->Find(id, extended)) files.push_back(i);
    return files;
}

}  // namespace dbc
