#include "host/data_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

namespace tzn {
namespace {

namespace fs = std::filesystem;

struct TWriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct TReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct TEntryDeleter {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

std::string ArchiveText(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "unknown archive error";
}

// Every regular file below folder (symbolic links followed), relative, in name order so that
// an archive's layout does not depend on the file system's listing order.
std::vector<fs::path> FolderFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    if (folder.empty())
        return files;
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::follow_directory_symlink, ec),
         end;
         !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file())
            files.push_back(fs::relative(it->path(), folder));
        else if (!it->is_directory())
            throw TArchiveError(it->path().string() + ": neither a file nor a folder");
    }
    if (ec)
        throw TArchiveError(folder.string() + ": " + ec.message());
    std::sort(files.begin(), files.end());
    return files;
}

void AddFile(archive* a, const fs::path& source, const std::string& name) {
    std::ifstream in(source, std::ios::binary);
    std::error_code ec;
    const auto size = fs::file_size(source, ec);
    if (!in || ec)
        throw TArchiveError("cannot read " + source.string());
    std::unique_ptr<archive_entry, TEntryDeleter> entry(archive_entry_new());
    archive_entry_copy_pathname(entry.get(), name.c_str()); // the bytes as they are (UTF-8)
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
    archive_entry_set_mtime(entry.get(), ::time(nullptr), 0);
    if (archive_write_header(a, entry.get()) != ARCHIVE_OK)
        throw TArchiveError(name + ": " + ArchiveText(a));
    std::vector<char> buffer(64 * 1024);
    uintmax_t written = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto n = static_cast<size_t>(in.gcount());
        if (n > 0 && archive_write_data(a, buffer.data(), n) != static_cast<la_ssize_t>(n))
            throw TArchiveError(name + ": " + ArchiveText(a));
        written += n;
    }
    if (in.bad() || written != size)
        throw TArchiveError("cannot read " + source.string() + " whole (it changed meanwhile?)");
}

void Pack(int fd, const fs::path& folder, const fs::path& request, const std::string& requestName) {
    std::unique_ptr<archive, TWriterDeleter> a(archive_write_new());
    if (archive_write_add_filter_gzip(a.get()) != ARCHIVE_OK ||
        // GNU tar keeps names as bytes: no conversion through the process's locale.
        archive_write_set_format_gnutar(a.get()) != ARCHIVE_OK ||
        archive_write_open_fd(a.get(), fd) != ARCHIVE_OK)
        throw TArchiveError(ArchiveText(a.get()));
    for (const fs::path& file : FolderFiles(folder)) {
        if (file.generic_string() == requestName)
            throw TArchiveError((folder / file).string() + ": the export folder holds a file "
                                                           "named like the request");
        AddFile(a.get(), folder / file, file.generic_string());
    }
    AddFile(a.get(), request, requestName);
    if (archive_write_close(a.get()) != ARCHIVE_OK)
        throw TArchiveError(ArchiveText(a.get()));
}

// A relative path that stays inside the target folder.
fs::path SafeEntryPath(const std::string& name) {
    fs::path p = fs::path(name).lexically_normal();
    if (name.empty() || p.is_absolute() || p.empty() || *p.begin() == "..")
        throw TArchiveError("\"" + name + "\": not a path inside the archive's folder");
    for (const fs::path& part : p)
        if (part == "..")
            throw TArchiveError("\"" + name + "\": not a path inside the archive's folder");
    return p;
}

// "1 GiB", "8 MiB" or "1234 bytes", for the texts of refused archives.
std::string SizeText(std::uintmax_t bytes) {
    constexpr std::uintmax_t kMiB = std::uintmax_t{1} << 20, kGiB = kMiB << 10;
    if (bytes >= kGiB && bytes % kGiB == 0)
        return std::to_string(bytes / kGiB) + " GiB";
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Counts what an unpacking produces and refuses it, before the bytes reach the disk, once
// it goes past its limits.
class TUnpackBudget {
public:
    TUnpackBudget(archive* a, const TUnpackLimits& limits) : FArchive(a), FLimits(limits) {}

    void Entry() {
        if (++FEntries > FLimits.MaxEntries)
            throw TArchiveError("more than " + std::to_string(FLimits.MaxEntries) +
                                " files and folders");
    }

    // A file whose header already says it will not fit is refused before it is created.
    void Declared(archive_entry* entry, const std::string& name) const {
        if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) <= 0)
            return;
        if (static_cast<std::uintmax_t>(archive_entry_size(entry)) > FLimits.MaxBytes - FBytes)
            throw MoreThanAllowed(name);
    }

    void Grow(std::uintmax_t bytes, const std::string& name) {
        if (bytes > FLimits.MaxBytes - FBytes)
            throw MoreThanAllowed(name);
        FBytes += bytes;
        if (FLimits.MaxRatio == 0 || FBytes <= FLimits.RatioFreeBytes)
            return;
        // The compressed bytes read so far (whole read blocks), not the archive's size: what
        // follows the bomb cannot buy it room.
        const la_int64_t packed = archive_filter_bytes(FArchive, -1);
        if (packed <= 0 || FBytes / FLimits.MaxRatio > static_cast<std::uintmax_t>(packed))
            throw TArchiveError(name + ": the archive expands more than " +
                                std::to_string(FLimits.MaxRatio) + " times its compressed size (" +
                                SizeText(FBytes) + " unpacked from " +
                                SizeText(packed > 0 ? packed : 0) + ")");
    }

private:
    TArchiveError MoreThanAllowed(const std::string& name) const {
        return TArchiveError(name + ": the archive unpacks to more than " +
                             SizeText(FLimits.MaxBytes));
    }

    archive* FArchive;
    const TUnpackLimits& FLimits;
    std::uintmax_t FEntries = 0;
    std::uintmax_t FBytes = 0;
};

void ExtractFile(archive* a, const fs::path& target, TUnpackBudget& budget) {
    fs::create_directories(target.parent_path());
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throw TArchiveError("cannot create " + target.string() + ": " + std::strerror(errno));
    bool ok = true;
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    // How far the file reaches: a block placed past a hole grows it by the hole as well.
    std::uintmax_t end = 0;
    int rc;
    try {
        while ((rc = archive_read_data_block(a, &block, &size, &offset)) == ARCHIVE_OK) {
            const char* p = static_cast<const char*>(block);
            if (offset < 0)
                throw TArchiveError(target.filename().string() + ": a block before the start");
            const std::uintmax_t blockEnd = static_cast<std::uintmax_t>(offset) + size;
            if (blockEnd > end) {
                budget.Grow(blockEnd - end, target.filename().string());
                end = blockEnd;
            }
            if (::lseek(fd, offset, SEEK_SET) < 0)
                ok = false;
            while (ok && size > 0) {
                const ssize_t n = ::write(fd, p, size);
                if (n <= 0) {
                    ok = false;
                    break;
                }
                p += n;
                size -= static_cast<size_t>(n);
            }
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (rc != ARCHIVE_EOF)
        throw TArchiveError(target.filename().string() + ": " + ArchiveText(a));
    if (!ok)
        throw TArchiveError("cannot write " + target.string());
}

void Unpack(const fs::path& archiveFile, const fs::path& target, const TUnpackLimits& limits) {
    std::unique_ptr<archive, TReaderDeleter> a(archive_read_new());
    archive_read_support_filter_gzip(a.get());
    archive_read_support_format_tar(a.get());
    if (archive_read_open_filename(a.get(), archiveFile.c_str(), 64 * 1024) != ARCHIVE_OK)
        throw TArchiveError(archiveFile.string() + ": " + ArchiveText(a.get()));
    TUnpackBudget budget(a.get(), limits);
    archive_entry* entry = nullptr;
    int rc;
    while ((rc = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK) {
        budget.Entry();
        const char* name = archive_entry_pathname_utf8(entry);
        if (!name)
            name = archive_entry_pathname(entry);
        const fs::path path = target / SafeEntryPath(name ? name : "");
        switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
            budget.Declared(entry, path.filename().string());
            ExtractFile(a.get(), path, budget);
            break;
        case AE_IFDIR:
            fs::create_directories(path);
            break;
        default:
            throw TArchiveError(std::string("\"") + name + "\": neither a file nor a folder");
        }
    }
    if (rc != ARCHIVE_EOF)
        throw TArchiveError(archiveFile.string() + ": " + ArchiveText(a.get()));
}

} // namespace

bool PackDataArchive(const fs::path& target, const fs::path& folder, const fs::path& request,
                     const std::string& requestName) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST)
            return false;
        throw TArchiveError("cannot create " + target.string() + ": " + std::strerror(errno));
    }
    try {
        Pack(fd, folder, request, requestName);
        if (::fsync(fd) != 0)
            throw TArchiveError("cannot write " + target.string() + ": " + std::strerror(errno));
    } catch (...) {
        ::close(fd);
        std::error_code ec;
        fs::remove(target, ec);
        throw;
    }
    if (::close(fd) != 0)
        throw TArchiveError("cannot write " + target.string() + ": " + std::strerror(errno));
    return true;
}

bool IsDataArchiveName(const std::string& fileName) {
    const std::string suffix = kDataArchiveSuffix;
    if (fileName.size() <= suffix.size())
        return false;
    return std::equal(suffix.rbegin(), suffix.rend(), fileName.rbegin(), [](char a, char b) {
        return a == std::tolower(static_cast<unsigned char>(b));
    });
}

bool UnpackDataArchive(const fs::path& archiveFile, const fs::path& target,
                       const TUnpackLimits& limits) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (!fs::create_directory(target, ec)) {
        if (!ec)
            return false;
        throw TArchiveError("cannot create " + target.string() + ": " + ec.message());
    }
    try {
        Unpack(archiveFile, target, limits);
    } catch (const std::exception& e) {
        fs::remove_all(target, ec);
        throw TArchiveError(archiveFile.filename().string() + " not unpacked: " + e.what());
    }
    return true;
}

} // namespace tzn
