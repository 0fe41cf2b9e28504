#include "host/config_host.h"

#include "host/data_archive.h"
#include "platform/cp1251.h"
#include "platform/datetime.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace tzn {
namespace {

// One path component made of a name the plug-in or a sender chose: no folders, no parent
// references.
std::string SafeComponent(std::string s) {
    for (char& c : s)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    if (s.empty() || s == "." || s == "..")
        s = "_";
    return s;
}

// "name.ext", then "name-2.ext", "name-3.ext", ...
std::string Numbered(const std::string& name, int n) {
    if (n < 2)
        return name;
    const size_t dot = name.find_last_of('.');
    const std::string suffix = "-" + std::to_string(n);
    return dot == std::string::npos || dot == 0 ? name + suffix
                                                : name.substr(0, dot) + suffix + name.substr(dot);
}

// Creates target exclusively with content or a copy of source; false when the name is taken.
bool CreateExclusive(const std::filesystem::path& target, const std::string& content,
                     const std::filesystem::path& source) {
    if (!source.empty()) {
        std::error_code ec;
        if (std::filesystem::copy_file(source, target, std::filesystem::copy_options::none, ec))
            return true;
        if (ec == std::errc::file_exists)
            return false;
        throw std::runtime_error("cannot copy " + source.string() + " to " + target.string() +
                                 ": " + ec.message());
    }
    FILE* f = std::fopen(target.c_str(), "wbx");
    if (!f) {
        if (errno == EEXIST)
            return false;
        throw std::runtime_error("cannot create " + target.string());
    }
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    if (std::fclose(f) != 0 || !ok)
        throw std::runtime_error("cannot write " + target.string());
    return true;
}

// The first line of the requests this host makes, by which a station knows one.
constexpr const char* kRequestHeader = "[Request]";

// Whether the file begins like the requests this host makes.
bool IsRequest(const std::filesystem::path& file) {
    const std::string header = kRequestHeader;
    std::string start(header.size(), '\0');
    std::ifstream in(file, std::ios::binary);
    return in.read(start.data(), static_cast<std::streamsize>(start.size())) && start == header;
}

} // namespace

TConfigHost::TConfigHost(THostConfig config, std::ostream* importLog)
    : FImportLog(importLog), FConfig(std::move(config)),
      FDataFolder(ExtractFilePath(FConfig.DataFile)) {}

int TConfigHost::GetCount() {
    return FConfig.Count;
}

std::string TConfigHost::GetStationCode() {
    return FConfig.StationCode;
}

std::string TConfigHost::GetDataFileName() {
    return FConfig.DataFile;
}

std::string TConfigHost::ImportDataFile(const std::string& fileName) {
    return Import("station", fileName);
}

std::string TConfigHost::ImportDataFileFrom(const std::string& senderCode,
                                            const std::string& fileName) {
    return Import(senderCode, fileName);
}

std::filesystem::path TConfigHost::ImportFolder(const std::string& folder) const {
    // ImportDir is the user's native folder: names in UTF-8 there.
    return FConfig.ImportDir / Utf8FromCp1251(SafeComponent(folder));
}

std::string TConfigHost::Import(const std::string& folder, const std::string& fileName) {
    try {
        return TryImport(folder, fileName);
    } catch (const std::exception& e) {
        const std::string line = "tznhost: import of " + Utf8FromCp1251(fileName) + " into " +
                                 ImportFolder(folder).string() + " failed: " + e.what() + "\n";
        std::lock_guard<std::mutex> lock(FFilesLock);
        ++FImportFailures;
        if (FImportLog)
            *FImportLog << line << std::flush;
        throw;
    }
}

std::string TConfigHost::TryImport(const std::string& folder, const std::string& fileName) {
    const std::filesystem::path dir = ImportFolder(folder);
    const std::string time = FormatDateTime("yyyymmdd-hhnnss", Now());
    const bool archive = IsDataArchiveName(ExtractFileName(fileName));
    const std::string name =
        archive ? time : time + "-" + Utf8FromCp1251(SafeComponent(ExtractFileName(fileName)));
    {
        std::lock_guard<std::mutex> lock(FFilesLock);
        std::filesystem::create_directories(dir);
        for (int n = 1;; ++n)
            if (archive ? UnpackDataArchive(NativePath(fileName), dir / Numbered(name, n))
                        : CreateExclusive(dir / Numbered(name, n), "", NativePath(fileName)))
                break;
    }
    // A station with data to export answers the office's request with them.
    if (FConfig.Mode == 0 && !FConfig.ExportDir.empty() && IsRequest(NativePath(fileName)))
        return PrepareExportData(0, fileName);
    if (FConfig.ReplyFile.empty())
        return "";
    return NewDataFile(ru(FConfig.ReplyFile.filename().string()), "", FConfig.ReplyFile);
}

std::vector<std::string> TConfigHost::RequestsMade() {
    std::lock_guard<std::mutex> lock(FFilesLock);
    return FRequestsMade;
}

std::size_t TConfigHost::ImportFailures() {
    std::lock_guard<std::mutex> lock(FFilesLock);
    return FImportFailures;
}

std::string TConfigHost::MakeStationRequestFile(const std::string& stationKey) {
    for (const THostStation& s : FConfig.Stations)
        if (AnsiSameText(s.Key, stationKey)) {
            std::string file =
                NewDataFile("request-" + SafeComponent(s.Code) + ".txt",
                            std::string(kRequestHeader) + "\r\nStation=" + s.Code +
                                "\r\nName=" + s.Name + "\r\nFrom=" + FConfig.StationCode +
                                "\r\nDate=" + DateTimeToStr(Now()) + "\r\n");
            std::lock_guard<std::mutex> lock(FFilesLock);
            FRequestsMade.push_back(s.Code);
            return file;
        }
    return "";
}

THostMenuItem* TConfigHost::GetMainMenuItems() {
    return &FMainMenu;
}

THostMenuItem* TConfigHost::NewMenuItem(THostMenuItem* parent, int index) {
    auto* node = dynamic_cast<TMenuNode*>(parent);
    if (!node)
        throw std::invalid_argument("NewMenuItem: not an item of this host's menu");
    return node->Insert(index);
}

THostVariant TConfigHost::GetParamValue(int number, int /*reserved*/) {
    const auto it = FConfig.Params.find(number);
    if (it == FConfig.Params.end())
        return {};
    THostVariant text(it->second);
    try {
        return THostVariant(text.ToInteger());
    } catch (const std::invalid_argument&) {
        return text;
    }
}

std::optional<THostStation> TConfigHost::GetStation(int index) {
    if (index < 0 || index >= static_cast<int>(FConfig.Stations.size()))
        return std::nullopt;
    return FConfig.Stations[static_cast<size_t>(index)];
}

std::string TConfigHost::PrepareExportData(int /*reserved*/, const std::string& requestFile) {
    const std::string base =
        SafeComponent(FConfig.StationCode) + "-" + FormatDateTime("yyyymmdd-hhnnss", Now());
    const std::string requestName = Utf8FromCp1251(SafeComponent(ExtractFileName(requestFile)));
    std::lock_guard<std::mutex> lock(FFilesLock);
    const std::filesystem::path dir = NativePath(FDataFolder);
    std::filesystem::create_directories(dir);
    for (int n = 1;; ++n) {
        const std::string name = base + (n < 2 ? "" : "-" + std::to_string(n)) + kDataArchiveSuffix;
        if (PackDataArchive(dir / Utf8FromCp1251(name), FConfig.ExportDir, NativePath(requestFile),
                            requestName))
            return FDataFolder + name;
    }
}

std::string TConfigHost::NewDataFile(const std::string& name, const std::string& content,
                                     const std::filesystem::path& source) {
    std::lock_guard<std::mutex> lock(FFilesLock);
    const std::filesystem::path dir = NativePath(FDataFolder);
    std::filesystem::create_directories(dir);
    for (int n = 1;; ++n) {
        const std::string candidate = Numbered(name, n);
        if (CreateExclusive(dir / candidate, content, source))
            return FDataFolder + candidate;
    }
}

} // namespace tzn
