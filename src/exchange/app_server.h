// The host suite's application server as the shift selection reads it: a provider's rows,
// each field as text, in the order the server delivers them. The suite keeps each provider as
// a tab-separated CP1251 file under its folder ("C:\PLAV\" + provider + ".tsv"), the first
// line naming the fields; only this computer's server can be reached.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tzn {

// An open provider: its rows, one at a time.
class TProviderDataset {
public:
    virtual ~TProviderDataset() = default;
    // The next row's values, in the order the fields were asked for; false after the last
    // row. Throws std::runtime_error for a row that cannot be read (the rows before it have
    // been delivered).
    virtual bool Next(std::vector<std::string>& values) = 0;
};

class TAppServer {
public:
    virtual ~TAppServer() = default;
    // Opens `provider` on `computer` (empty: this computer), fetching `fields`. Throws
    // std::runtime_error when the server cannot be reached, or the provider cannot be read
    // or lacks one of the fields.
    virtual std::unique_ptr<TProviderDataset> Open(const std::string& computer,
                                                   const std::string& provider,
                                                   const std::vector<std::string>& fields) = 0;
};

// The suite's server on this computer, reading the provider files.
class TFileAppServer final : public TAppServer {
public:
    std::unique_ptr<TProviderDataset> Open(const std::string& computer, const std::string& provider,
                                           const std::vector<std::string>& fields) override;
};

// "C:\PLAV\" + provider + ".tsv".
std::string ProviderFileName(const std::string& provider);
// This computer's name, as a host names it.
std::string LocalComputerName();
// Empty, "localhost", a loopback address or this computer's name, in any letter case.
bool NamesThisComputer(const std::string& computer);

} // namespace tzn
