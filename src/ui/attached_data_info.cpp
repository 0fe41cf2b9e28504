#include "ui/attached_data_info.h"

#include "mail/message.h"
#include "module/module_state.h"
#include "platform/cp1251.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "store/mail_store.h"

#include <stdexcept>

namespace tzn {
namespace {

// Released however the description ends.
class TLibrary {
public:
    explicit TLibrary(const std::string& path) : FHandle(LoadLibrary(path)) {}
    ~TLibrary() {
        if (FHandle)
            FreeLibrary(FHandle);
    }
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;
    TLibraryHandle Handle() const { return FHandle; }

private:
    TLibraryHandle FHandle;
};

} // namespace

std::string GetAttachedDataInfo(const std::string& fileName, MailFolder folder) {
    std::string info;
    try {
        const auto letter = LoadLetterFile(fileName, folder);
        if (!letter)
            return info;
        const std::string dataDir = DataDir();
        std::string lastInfoName;
        for (size_t i = 0; i < letter->MessageParts.Count(); ++i) {
            TMxAttachmentFile* part = letter->MessageParts[i].AsAttachment();
            if (!part)
                continue;
            part->FileIsTemporary = true;
            lastInfoName = part->PartFileName + "_info";
            const std::string infoPath = dataDir + lastInfoName;
            DeleteFile(infoPath);
            if (FileExists(infoPath))
                throw std::runtime_error(ru("Не удален временный файл информации"));
            part->SaveContentTo(infoPath);
        }
        TLibrary library(kDataProcessingLibrary);
        if (!library.Handle() || lastInfoName.empty() || !FileExists(dataDir + lastInfoName))
            return info;
        auto getInfo =
            reinterpret_cast<TGetInfoFromFile>(GetProcAddress(library.Handle(), "GetInfoFromFile"));
        if (getInfo) {
            const std::string path = dataDir + lastInfoName;
            if (const char* text = getInfo(path.c_str()))
                info = text;
        }
    } catch (...) { // NOLINT(bugprone-empty-catch): the panel just stays empty
    }
    return info;
}

} // namespace tzn
