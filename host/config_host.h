// THostServices answered from the host's configuration file. Safe to call from the plug-in's
// worker threads: the configuration never changes, and new files are created under a lock
// with names that are never taken twice.
#pragma once

#include "host/host_config.h"
#include "host/menu_model.h"
#include "tznmail/host.h"

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace tzn {

class TConfigHost final : public THostServices {
public:
    // A failed import is written to `importLog` (when given) as one line: the plug-in
    // swallows what the host raises, so nobody would learn of it otherwise.
    explicit TConfigHost(THostConfig config, std::ostream* importLog = nullptr);

    // The main menu the plug-in builds its commands into (window thread only).
    TMenuNode& MainMenu() { return FMainMenu; }
    const THostConfig& Config() const { return FConfig; }
    // The codes of the stations MakeStationRequestFile made a request for, oldest first.
    std::vector<std::string> RequestsMade();
    // How many imports have failed so far.
    std::size_t ImportFailures();

    int GetCount() override;
    std::string GetStationCode() override;
    std::string GetDataFileName() override;
    // Copies the received file to ImportDir/station/<time>-<name>, or unpacks a data archive
    // ("*.tar.gz") into ImportDir/station/<time>/. A station with an ExportDir answers a
    // request of this host's making with its data archive (PrepareExportData); otherwise the
    // answer is a fresh copy of ReplyFile in the data folder, or "" without one. A failure
    // (an archive refused, a copy that cannot be written) is logged, then raised.
    std::string ImportDataFile(const std::string& fileName) override;
    // As ImportDataFile, into ImportDir/<sender code>/.
    std::string ImportDataFileFrom(const std::string& senderCode,
                                   const std::string& fileName) override;
    // A small request file for the station with that key, new in the data folder; "" for an
    // unknown key.
    std::string MakeStationRequestFile(const std::string& stationKey) override;
    THostMenuItem* GetMainMenuItems() override;
    THostMenuItem* NewMenuItem(THostMenuItem* parent, int index) override;
    // [Params]: a whole number as an integer, other text as a string, a missing one empty.
    THostVariant GetParamValue(int number, int reserved) override;
    // [Stations] line index (0 the first).
    std::optional<THostStation> GetStation(int index) override;
    // A new data archive in the data folder, "<station code>-<time>.tar.gz": the files of
    // ExportDir under their relative paths and the request file under its own name.
    std::string PrepareExportData(int reserved, const std::string& requestFile) override;

private:
    std::string Import(const std::string& folder, const std::string& fileName);
    std::string TryImport(const std::string& folder, const std::string& fileName);
    std::filesystem::path ImportFolder(const std::string& folder) const;
    // A new file named name (or name-2, name-3, ... when taken) in the data folder, with that
    // content or a copy of source; its Windows-form path.
    std::string NewDataFile(const std::string& name, const std::string& content,
                            const std::filesystem::path& source = {});

    std::vector<std::string> FRequestsMade;
    std::size_t FImportFailures = 0;
    std::ostream* FImportLog;
    const THostConfig FConfig;
    const std::string FDataFolder; // Windows form, ends with "\"
    TMenuNode FMainMenu;
    std::mutex FFilesLock;
};

} // namespace tzn
