// The states a power cut may leave a folder in, built from a recorded trace
// of a process's file operations (see CrashRecorder.c for the trace format).
//
// The model is that of LevelDB's fault-injection environment and of Pillai
// et al., "All File Systems Are Not Created Equal" (OSDI 2014): a file's data
// is on the disk up to its last sync; a new name, a rename or an unlink is on
// the disk once its folder is synced after it, or earlier, whenever the file
// system commits its journal, which may be before the data of a renamed file
// and in another order than the operations were made. After each operation
// the explorer builds:
//   - only what was synced: each folder's entries as of its last sync, each
//     file's data as of its last sync (a file never synced is empty);
//   - names durable, data not: every folder operation so far, data as synced;
//   - one folder operation lost: for each folder operation not yet covered by
//     a sync of its folder, every operation so far but that one, data as
//     written;
//   - everything written back (what a killed process leaves).
// Identical states are kept once: two states are the same when they hold the
// same files with the same contents, the temporary files (named by mkstemp)
// aside, whose names are random and whose contents only their writer reads.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

namespace qb::test::crash {

inline constexpr const char* kMissing = "<missing>";

// One recorded operation.
struct Op {
    char kind = 0;
    int fd = -1;
    long long a = 0, b = 0;
    std::string path, path2, data;
    std::string Describe() const {
        std::string d(1, kind);
        d += path.empty() && kind != 'O' && kind != 'R' ? " fd " + std::to_string(fd) : " " + path;
        return path2.empty() ? d : d + " -> " + path2;
    }
};

// The operations of a trace; false (and where) when it is damaged.
inline bool ParseTrace(const std::string& text, std::vector<Op>& ops, std::string& error) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            error = "trace ends inside a record at byte " + std::to_string(at);
            return false;
        }
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        Op op;
        const size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
        std::istringstream head(line.substr(0, tab));
        if (tab == std::string::npos || tab2 == std::string::npos ||
            !(head >> op.kind >> op.fd >> op.a >> op.b)) {
            error = "bad trace record: " + line;
            return false;
        }
        op.path = line.substr(tab + 1, tab2 - tab - 1);
        op.path2 = line.substr(tab2 + 1);
        if (op.kind == 'W') {
            if (op.b < 0 || at + static_cast<size_t>(op.b) > text.size()) {
                error = "trace ends inside a write";
                return false;
            }
            op.data = text.substr(at, static_cast<size_t>(op.b));
            at += static_cast<size_t>(op.b);
        }
        ops.push_back(std::move(op));
    }
    return true;
}

// Files (relative name -> content) and folders of one folder tree.
struct Tree {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    bool operator==(const Tree&) const = default;
};

// The tree under root, without the names ignored.
inline Tree ReadTree(const std::string& root,
                     const std::function<bool(const std::string&)>& ignored) {
    namespace fs = std::filesystem;
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (ignored(rel)) {
            if (it->is_directory())
                it.disable_recursion_pending();
        } else if (it->is_directory()) {
            tree.folders.insert(rel);
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            tree.files[rel] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return tree;
}

// Replaces the tree under root (its ignored names aside) by tree.
inline void LayOut(const std::string& root, const Tree& tree,
                   const std::function<bool(const std::string&)>& ignored) {
    namespace fs = std::filesystem;
    for (const auto& e : fs::directory_iterator(root)) {
        if (!ignored(fs::relative(e.path(), root).string()))
            fs::remove_all(e.path());
    }
    for (const std::string& f : tree.folders)
        fs::create_directories(fs::path(root) / f);
    for (const auto& [name, content] : tree.files) {
        std::ofstream out(fs::path(root) / name, std::ios::binary | std::ios::trunc);
        out << content;
    }
}

struct CrashState {
    Tree tree;
    std::string label;  // which state of which operation
    size_t key = 0;     // equal for states of equal files, temporary files aside
};

struct Exploration {
    std::vector<CrashState> distinct;
    long built = 0;
    // Every content each name held as a whole: before the run, after each
    // rename or link onto it, at each close of a descriptor that wrote it,
    // kMissing when it was not there or was removed.
    std::map<std::string, std::set<std::string>> versions;
    std::string error;  // the recorder missed an operation, or the trace is damaged
};

// The file-system model: names, files, descriptors, and what is durable.
class Model {
  public:
    Model(const Tree& before, std::function<bool(const std::string&)> ignored)
        : ignored_(std::move(ignored)) {
        live_[""] = kFolder;
        for (const std::string& f : before.folders)
            live_[f] = kFolder;
        for (const auto& [name, content] : before.files) {
            live_[name] = static_cast<int>(files_.size());
            files_.push_back({content, content});
            out_.versions[name].insert(content);
        }
        durable_ = live_;
    }

    // Replays ops, building the crash states before the first and after
    // each of the first statesOf (once per model); the replay of them all
    // must give after.
    Exploration Explore(const std::vector<Op>& ops, const Tree& after,
                        size_t statesOf = static_cast<size_t>(-1)) {
        AddStates("before the run");
        for (size_t k = 0; k < ops.size(); ++k) {
            const std::string at =
                "after op " + std::to_string(k + 1) + " (" + ops[k].Describe() + ")";
            if (!Apply(ops[k])) {
                out_.error = "cannot replay " + at + ": " + out_.error;
                return std::move(out_);
            }
            if (k < statesOf)
                AddStates(at);
        }
        for (const auto& [name, file] : live_) {
            if (file != kFolder)
                out_.versions[name].insert(files_[file].data);
        }
        const Tree replayed = Build(live_, false);
        if (replayed != after) {
            out_.error = "replaying the trace does not give the folder the run left:";
            for (const auto& [name, content] : after.files) {
                const auto it = replayed.files.find(name);
                if (it == replayed.files.end() || it->second != content)
                    out_.error += " " + name;
            }
            for (const auto& [name, content] : replayed.files) {
                if (!after.files.count(name))
                    out_.error += " " + name + " (not left by the run)";
            }
            if (replayed.folders != after.folders)
                out_.error += " (folders differ)";
        }
        return std::move(out_);
    }

  private:
    static constexpr int kFolder = -1;
    using Names = std::map<std::string, int>;  // name -> file, or kFolder
    struct File {
        std::string data, synced;
    };
    // A change of names, with the folders whose sync makes it durable.
    struct NameOp {
        char kind;
        std::string path, path2;
        int file;  // what a new name stands for
        std::set<std::string> unsynced;
    };

    static std::string FolderOf(const std::string& name) {
        const size_t slash = name.find_last_of('/');
        return slash == std::string::npos ? "" : name.substr(0, slash);
    }

    // Applies a change of names to names; one whose source is not there does nothing.
    static void ApplyName(Names& names, const NameOp& op) {
        const auto from = names.find(op.path);
        switch (op.kind) {
            case 'N':
                names[op.path] = op.file;
                break;
            case 'R':
            case 'L': {
                // Onto itself or onto another name of the same file, a
                // rename changes nothing.
                const auto to = names.find(op.path2);
                if (from == names.end() || (to != names.end() && to->second == from->second))
                    break;
                names[op.path2] = from->second;
                if (op.kind == 'R')
                    names.erase(op.path);
                break;
            }
            default:  // unlink, folder removed
                if (from != names.end())
                    names.erase(from);
        }
    }

    void NameChange(char kind, const std::string& path, const std::string& path2, int file) {
        NameOp op{kind, path, path2, file, {FolderOf(path)}};
        if (!path2.empty())
            op.unsynced.insert(FolderOf(path2));
        // A name the run makes was missing before it.
        const std::string& made = path2.empty() ? path : path2;
        if ((kind == 'N' || !path2.empty()) && !live_.count(made))
            out_.versions[made].insert(kMissing);
        before_.push_back(live_);
        ApplyName(live_, op);
        nameOps_.push_back(std::move(op));
        pending_.push_back(nameOps_.size() - 1);
    }

    bool Fail(const std::string& why) {
        out_.error = why;
        return false;
    }

    bool Apply(const Op& op) {
        if (op.kind == 'O') {
            if (ignored_(op.path)) {
                fds_.erase(op.fd);
                return true;
            }
            const auto it = live_.find(op.path);
            int file;
            if (it != live_.end()) {
                file = it->second;
                if (file != kFolder && (op.a & O_TRUNC) && (op.a & O_ACCMODE) != O_RDONLY)
                    files_[file].data.clear();
            } else if (op.a & O_CREAT) {
                file = static_cast<int>(files_.size());
                files_.push_back({});
                if (op.b)
                    temporary_.insert(op.path);
                NameChange('N', op.path, "", file);
            } else {
                return Fail("open of a file the model does not have: " + op.path);
            }
            fds_[op.fd] = file == kFolder ? Binding{kFolder, op.path, false}
                                          : Binding{file, "", (op.a & (O_SYNC | O_DSYNC)) != 0};
            return true;
        }
        if (op.kind == 'P') {
            const auto old = fds_.find(static_cast<int>(op.a));
            if (old == fds_.end())
                fds_.erase(op.fd);
            else
                fds_[op.fd] = old->second;
            return true;
        }
        if (op.kind == 'W' || op.kind == 'T' || op.kind == 'S' || op.kind == 'C') {
            const auto it = fds_.find(op.fd);
            if (it == fds_.end())
                return true;  // a descriptor of an ignored file
            const Binding b = it->second;
            if (op.kind == 'C') {
                fds_.erase(it);
                if (b.file != kFolder && written_.erase(b.file))
                    NoteVersions(b.file);
            } else if (op.kind == 'S') {
                if (b.file == kFolder)
                    SyncFolder(b.folder);
                else
                    files_[b.file].synced = files_[b.file].data;
            } else if (b.file == kFolder) {
                return Fail("write to a folder");
            } else if (op.kind == 'T') {
                files_[b.file].data.resize(static_cast<size_t>(op.b));
            } else {
                std::string& data = files_[b.file].data;
                const size_t end = static_cast<size_t>(op.a) + op.data.size();
                if (data.size() < end)
                    data.resize(end);
                data.replace(static_cast<size_t>(op.a), op.data.size(), op.data);
                written_.insert(b.file);
            }
            if (b.syncedWrites && op.kind != 'C')
                files_[b.file].synced = files_[b.file].data;
            return true;
        }
        const bool first = ignored_(op.path), second = !op.path2.empty() && ignored_(op.path2);
        if (first && (op.path2.empty() || second))
            return true;
        if (first || second || op.path.starts_with("/") || op.path2.starts_with("/"))
            return Fail("a name moved between the recorded files and others: " + op.Describe());
        const auto from = live_.find(op.path);
        switch (op.kind) {
            case 'M':
                NameChange('N', op.path, "", kFolder);
                return true;
            case 'R':
            case 'L':
            case 'U':
            case 'D':
                if (from == live_.end())
                    return Fail("no such name in the model: " + op.path);
                if (from->second == kFolder && op.kind != 'D')
                    return Fail("folder renamed or linked: " + op.path);
                if (op.kind != 'L')
                    out_.versions[op.path].insert(kMissing);
                if (op.kind == 'R' || op.kind == 'L')
                    out_.versions[op.path2].insert(files_[from->second].data);
                NameChange(op.kind, op.path, op.path2, 0);
                return true;
            default:
                return Fail(std::string("unknown operation ") + op.kind);
        }
    }

    void NoteVersions(int file) {
        for (const auto& [name, f] : live_) {
            if (f == file)
                out_.versions[name].insert(files_[file].data);
        }
    }

    // A folder's sync: its entries as they are now become durable.
    void SyncFolder(const std::string& folder) {
        for (auto it = durable_.begin(); it != durable_.end();)
            it = !it->first.empty() && FolderOf(it->first) == folder ? durable_.erase(it) : ++it;
        for (const auto& [name, file] : live_) {
            if (!name.empty() && FolderOf(name) == folder)
                durable_[name] = file;
        }
        std::vector<size_t> still;
        for (const size_t i : pending_) {
            nameOps_[i].unsynced.erase(folder);
            if (!nameOps_[i].unsynced.empty())
                still.push_back(i);
        }
        pending_ = std::move(still);
    }

    Tree Build(const Names& names, bool synced) const {
        Tree t;
        for (const auto& [name, file] : names) {
            if (file == kFolder) {
                if (!name.empty())
                    t.folders.insert(name);
            } else {
                t.files[name] = synced ? files_[file].synced : files_[file].data;
            }
        }
        return t;
    }

    void AddState(const Names& names, bool synced, const std::string& label) {
        ++out_.built;
        std::string key;
        for (const auto& [name, file] : names) {
            if (temporary_.count(name))
                continue;
            const std::string& content = file == kFolder ? "/"
                                         : synced        ? files_[file].synced
                                                         : files_[file].data;
            key += name + '\0' + std::to_string(content.size()) + '\0' + content;
        }
        const size_t hash = std::hash<std::string>{}(key);
        if (seen_.insert(hash).second)
            out_.distinct.push_back({Build(names, synced), label, hash});
    }

    void AddStates(const std::string& at) {
        AddState(durable_, true, at + ", only what was synced");
        AddState(live_, true, at + ", names durable, data not");
        AddState(live_, false, at + ", everything written back");
        for (const size_t i : pending_) {
            Names names = before_[i];
            for (size_t j = i + 1; j < nameOps_.size(); ++j)
                ApplyName(names, nameOps_[j]);
            AddState(names, false,
                     at + ", unsynced " + nameOps_[i].kind + " " + nameOps_[i].path + " lost");
        }
    }

    struct Binding {
        int file;
        std::string folder;
        bool syncedWrites;  // opened with O_SYNC or O_DSYNC
    };

    std::function<bool(const std::string&)> ignored_;
    std::vector<File> files_;
    Names live_, durable_;
    std::vector<NameOp> nameOps_;
    std::vector<Names> before_;    // the names before each change of names
    std::vector<size_t> pending_;  // changes of names not yet durable
    std::map<int, Binding> fds_;
    std::set<int> written_;
    std::set<std::string> temporary_;
    std::unordered_set<size_t> seen_;
    Exploration out_;
};

}  // namespace qb::test::crash
