#include "exchange/request_file.h"

#include "module/activity_log.h"
#include "module/settings.h"
#include "platform/cp1251.h"
#include "platform/ini_file.h"

#include <exception>

namespace tzn {

std::string RequestFileName(const std::string& dataDir) {
    return dataDir + "office.txt";
}

std::string WriteRequestFile(const std::string& dataDir, const std::vector<std::string>& shifts) {
    std::string path = RequestFileName(dataDir);
    try {
        const MailSettings settings = MailSettingsSnapshot();
        TIniFile ini(path);
        ini.WriteString("Trade", "LastUpdate",
                        "SendLastUpdates=" + std::to_string(settings.AddTovarCount));
        ini.WriteInteger("Smena", "Count", static_cast<int>(shifts.size()));
        for (size_t i = 0; i < shifts.size(); ++i)
            ini.WriteString("Smena", "Item" + std::to_string(i), shifts[i]);
        ini.WriteString("Config", "Type", shifts.empty() ? "4" : "1");
        ini.WriteBool("Config", "TradeDB", settings.AutoAddTovarUp);
        ini.WriteString("h", "M", ru("Привет"));
        return path;
    } catch (const std::exception& e) {
        WriteActivityLog(ru("Ошибка создания файла :") + path + ": " + e.what());
        return "";
    }
}

} // namespace tzn
