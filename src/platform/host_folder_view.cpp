#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
        const std::string path = HostPath(folder);
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

    bool Stat(const std::string& path, FsEntry& entry) override {
        const size_t slash = path.rfind('\\');
        entry.Name = slash == std::string::npos ? path : path.substr(slash + 1);
        return StatHost(HostPath(path), entry);
    }

    std::unique_ptr<FsFile> Open(const std::string& path) override {
        const int fd = ::open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
    std::string HostPath(const std::string& path) const {
        std::string host = root_;
        for (char c : path)
            host += c == '\\' ? '/' : c;
        return host;
    }

    static bool StatHost(const std::string& path, FsEntry& e) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode) && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            e.Attr = kAttrDirectory;
            e.Size = 0;
        } else if (S_ISREG(st.st_mode)) {
            e.Attr = ::access(path.c_str(), W_OK) == 0 ? 0 : kAttrReadOnly;
            e.Size = st.st_size;
        } else {
            return false;
        }
        if (!e.Name.empty() && e.Name[0] == '.') e.Attr |= kAttrHidden;
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
