#include "host/host_config.h"

#include "platform/cp1251.h"
#include "platform/ini_file.h"

#include <charconv>
#include <set>
#include <system_error>

namespace tzn {
namespace {

constexpr const char* kHost = "Host";

class TConfigReader {
public:
    explicit TConfigReader(const std::filesystem::path& file) : FFile(file), FIni(file.string()) {
        try {
            FIni.CheckReadable();
        } catch (const std::exception& e) {
            throw TConfigError(FFile.string() + ": " + e.what());
        }
    }

    [[noreturn]] void Fail(const std::string& section, const std::string& key,
                           const std::string& what) const {
        throw TConfigError(FFile.string() + ": [" + section + "] " + key + ": " + what);
    }
    bool Has(const std::string& section, const std::string& key) const {
        return FIni.ValueExists(section, key);
    }
    std::string Text(const std::string& section, const std::string& key) const {
        return FIni.ReadString(section, key, "");
    }
    std::string Required(const std::string& section, const std::string& key) const {
        std::string v = Text(section, key);
        if (v.empty())
            Fail(section, key, Has(section, key) ? "empty value" : "missing key");
        return v;
    }
    // A native path; a relative one lies beside the configuration file.
    std::filesystem::path NativeFile(const std::string& value) const {
        const std::filesystem::path p(value);
        return p.is_absolute() ? p : FFile.parent_path() / p;
    }
    std::vector<std::string> Keys(const std::string& section) const {
        std::vector<std::string> keys = FIni.ReadSection(section);
        std::set<std::string> seen;
        for (const std::string& k : keys)
            if (!seen.insert(AnsiUpperCase(k)).second)
                Fail(section, k, "the key appears twice");
        return keys;
    }

private:
    std::filesystem::path FFile;
    TIniFile FIni;
};

bool ParseInt(const std::string& s, int& out) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

void ReadHostSection(const TConfigReader& r, THostConfig& c) {
    const std::string side = r.Required(kHost, "Side");
    if (AnsiSameText(side, "station"))
        c.Mode = 0;
    else if (AnsiSameText(side, "office"))
        c.Mode = 1;
    else
        r.Fail(kHost, "Side", "\"" + side + "\" is neither station nor office");
    c.StationCode = ru(r.Required(kHost, "StationCode"));
    c.DataFile = ru(r.Required(kHost, "DataFile"));
    if (c.DataFile.back() == '\\' || c.DataFile.back() == '/')
        r.Fail(kHost, "DataFile", "a file name is needed, not a folder");
    c.ImportDir = r.NativeFile(r.Required(kHost, "ImportDir"));
    if (const std::string reply = r.Text(kHost, "ReplyFile"); !reply.empty()) {
        c.ReplyFile = r.NativeFile(reply);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(c.ReplyFile, ec))
            r.Fail(kHost, "ReplyFile", "no such file: " + c.ReplyFile.string());
    }
    if (const std::string exportDir = r.Text(kHost, "ExportDir"); !exportDir.empty()) {
        c.ExportDir = r.NativeFile(exportDir);
        std::error_code ec;
        if (!std::filesystem::is_directory(c.ExportDir, ec))
            r.Fail(kHost, "ExportDir", "no such folder: " + c.ExportDir.string());
    }
    if (r.Has(kHost, "Count")) {
        const std::string count = r.Text(kHost, "Count");
        if (!ParseInt(count, c.Count) || c.Count < 0)
            r.Fail(kHost, "Count", "\"" + count + "\" is not a whole number");
    }
}

void ReadParams(const TConfigReader& r, THostConfig& c) {
    // The current shift as the back-office application knows it; [Params] 25 overrides it.
    if (r.Has(kHost, "Shift"))
        c.Params[25] = ru(r.Text(kHost, "Shift"));
    for (const std::string& key : r.Keys("Params")) {
        int number = 0;
        if (!ParseInt(key, number))
            r.Fail("Params", key, "a parameter is named by its number");
        c.Params[number] = ru(r.Text("Params", key));
    }
}

void ReadStations(const TConfigReader& r, THostConfig& c) {
    for (const std::string& key : r.Keys("Stations")) {
        const std::string value = r.Text("Stations", key);
        const size_t comma = value.find(',');
        if (comma == std::string::npos || comma == 0)
            r.Fail("Stations", key, "\"" + value + "\" is not CODE,NAME");
        THostStation s;
        s.Key = ru(key);
        s.Code = ru(value.substr(0, comma));
        s.Name = ru(value.substr(comma + 1));
        c.Stations.push_back(std::move(s));
    }
}

} // namespace

THostConfig ReadHostConfig(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        throw TConfigError(file.string() + ": no such configuration file");
    const TConfigReader reader(file);
    THostConfig config;
    ReadHostSection(reader, config);
    ReadParams(reader, config);
    ReadStations(reader, config);
    return config;
}

} // namespace tzn
