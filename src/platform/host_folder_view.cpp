#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/escaped_names.h"
#include "platform/file_system_view.h"

namespace kestra::platform {
namespace {

class HostFile : public FsFile {
  public:
    HostFile(int fd, int64_t size) : fd_(fd), size_(size) {}
    ~HostFile() override { ::close(fd_); }
    int64_t Size() const override { return size_; }
    bool Read(uint8_t* buffer, size_t bytes) override {
        while (bytes > 0) {
            const ssize_t n = ::read(fd_, buffer, bytes);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffer += n;
            bytes -= static_cast<size_t>(n);
        }
        return true;
    }

  private:
    int fd_;
    int64_t size_;
};

class HostFolder : public FileSystemView {
  public:
    explicit HostFolder(std::string root) : root_(std::move(root)) {}

    bool List(const std::string& folder, std::vector<FsEntry>& entries,
              std::string& error) override {
        entries.clear();
        std::string path;
        if (!HostPath(folder, path)) {
            error = "Path not found: " + folder;
            return false;
        }
        DIR* dir = ::opendir(path.c_str());
        if (!dir) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        while (const dirent* d = ::readdir(dir)) {
            FsEntry e;
            e.Name = d->d_name;
            if (e.Name == "." || e.Name == "..") continue;
            if (StatHost(path + "/" + e.Name, e)) entries.push_back(std::move(e));
        }
        ::closedir(dir);
        return true;
    }

    Found Stat(const std::string& path, FsEntry& entry) override {
        const std::vector<std::string> names = SplitEscapedPath(path);
        std::string host;
        if (names.empty() || !HostPath(path, host)) return Found::No;
        entry.Name = names.back();
        errno = 0;
        if (StatHost(host, entry)) return Found::Yes;
        // Gone, or never there; anything else is the medium or the permissions.
        const bool gone =
            errno == 0 || errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
        return gone ? Found::No : Found::Unreadable;
    }

    std::unique_ptr<FsFile> Open(const std::string& path) override {
        std::string host;
        if (!HostPath(path, host)) return nullptr;
        const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return nullptr;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        // Each file is dropped from the cache just before it is read.
        if (dropCache_) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::fcntl(fd, F_SETFL, 0);
        return std::make_unique<HostFile>(fd, st.st_size);
    }

    void DropCachedPages() override { dropCache_ = true; }

  private:
    // False for a name no host folder can hold, or one that would leave the
    // root ("..", a "/" inside a name): such a path names nothing here.
    bool HostPath(const std::string& path, std::string& host) const {
        host = root_;
        for (const std::string& name : SplitEscapedPath(path)) {
            if (name.empty() || name == "." || name == ".." ||
                name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
                return false;
            }
            host += "/" + name;
        }
        if (host.empty()) host = "/";
        return true;
    }

    static bool StatHost(const std::string& path, FsEntry& e) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode) && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            e.Attr = format::kAttrDirectory;
            e.Size = 0;
        } else if (S_ISREG(st.st_mode)) {
            e.Attr = ::access(path.c_str(), W_OK) == 0 ? 0 : format::kAttrReadOnly;
            e.Size = st.st_size;
        } else {
            return false;
        }
        if (!e.Name.empty() && e.Name[0] == '.') e.Attr |= format::kAttrHidden;
        return true;
    }

    std::string root_;
    bool dropCache_ = false;
};

}  // namespace

ViewPtr HostFolderView(const std::string& root) {
    std::string r = root;
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    return std::make_unique<HostFolder>(r == "/" ? std::string() : r);
}

bool DropCachedPages(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return ok;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kestra::platform
