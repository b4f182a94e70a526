// Several DBC files read as one, for a bus whose messages are spread over more than one file (a file per
// ECU, a file per bus segment). A frame's identifier is looked up in the files in the order they were
// loaded and the first file that defines it decides its message: so loading one more file never changes
// what an identifier already meant, and `--dbc=a.dbc --dbc=b.dbc` lets a.dbc win. An identifier that a
// later file defines again is noted (Shadowed):
//   "b.dbc:12: 0x202 ENGINE is defined in a.dbc already (ENGINE_DATA); a.dbc's is used"
//
// A file that cannot be read leaves the set as it was. Once loaded a file is never unloaded or changed,
// so a Message or Signal pointer from Find stays valid as long as the set (or a copy of the file's
// shared_ptr) lives. One thread loads and looks up; the databases themselves may be read by any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Database.h"

namespace dbc {

class DatabaseSet {
public:
    struct Found {
        const Message *message = nullptr;  // null: no file defines the identifier
        std::size_t file = 0;              // index into Files()
    };

    // Reads `path` and appends it: "" on success, else one line naming the file and what went wrong (the
    // reader's message, or that this file is loaded already).
    std::string Load(const std::string &path);

    Found Find(uint32_t id, bool extended) const;
    // The files that define the identifier, in load order (the first is the one used).
    std::vector<std::size_t> FilesDefining(uint32_t id, bool extended) const;

    const std::vector<std::shared_ptr<const Database>> &Files() const { return files_; }
    const std::vector<std::string> &Shadowed() const { return shadowed_; }
    // The most signals of any message in any file: a decode buffer of this size never runs short.
    std::size_t MostSignals() const { return mostSignals_; }
    bool Empty() const { return files_.empty(); }

private:
    std::vector<std::shared_ptr<const Database>> files_;
    std::vector<std::string> paths_;  // as made absolute, to see a file loaded twice
    std::vector<std::string> shadowed_;
    std::size_t mostSignals_ = 0;
};

// The last part of a path: how the list names a file.
std::string BaseName(const std::string &path);

}  // namespace dbc
