// Locating folders by display name through the store root's Folders.dbx.
#include "common/Text.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "scanner/config/Conf.h"
#include "scanner/driver/Driver.h"
#include "scanner/driver/Guard.h"
#include "scanner/oe/CDbx.h"
#include "scanner/oe/CFolder.h"

namespace qb::driver {

namespace {

// The configured folder name in lower case; a missing key counts as empty.
std::string ConfiguredFolder(config::Conf& conf, const char* key) {
    const std::optional<std::string> value = conf.GetValue(key);
    return value ? text::Lower(*value) : std::string();
}

void ReportMissingFolder(const std::string& name, const std::string& which) {
    ConsoleLog("Unable to find the folder " + name);
    if (!gShowStatus)
        return;
    platform::Ui().MessageBox("Quellbox was attempting to scan your " + which +
                                  " folder in Outlook Express.  \r\n"
                                  "However we were unable to find the folder " +
                                  name + ".",
                              "Quellbox Tessaly", platform::mb::kOk);
}

}  // namespace

std::string GetFolderFilename(std::string name) {
    return FindFolderFile(std::move(name), 0, {});
}

std::string FindFolderFile(std::string name, int32_t kind, const std::string& configured) {
    std::string result;
    Guarded("GetFolderFilename", [&] {
        oe::CDbx dbx;
        const std::string folders = gStoreRoot + "Folders.dbx";
        if (Tracing())
            ConsoleLog("folders.dbx = " + folders);
        if (!dbx.openFile(folders, false)) {
            StatusMessage("Unable to open " + folders);
            ConsoleLog("Unable to open " + folders);
            return;
        }
        // Found by display name as ever; else the folder of the kind (one of
        // Local Folders first), else by the name the user configured.
        const oe::CFolder* byKind = nullptr;
        const oe::CFolder* byConfigured = nullptr;
        const auto named = [](const oe::CFolder& folder, const std::string& wanted) {
            const std::string display = text::Lower(folder.Name());
            return wanted == display && text::Lower(folder.FileName()).starts_with(display);
        };
        for (const auto& folder : dbx.Folders()) {
            if (Tracing())
                ConsoleLog(folder->Name() + ":" + folder->FileName());
            if (named(*folder, name)) {
                result = folder->FileName();
                return;
            }
            if (kind != 0 && folder->FolderKind() == kind && !folder->FileName().empty() &&
                (!byKind || (byKind->StoreType() != oe::kLocalStore &&
                             folder->StoreType() == oe::kLocalStore)))
                byKind = folder.get();
            if (!configured.empty() && !byConfigured && named(*folder, configured))
                byConfigured = folder.get();
        }
        if (byKind) {
            result = byKind->FileName();
            if (Tracing())
                ConsoleLog(name + " = " + result + " (folder kind " + std::to_string(kind) + ")");
        } else if (byConfigured) {
            result = byConfigured->FileName();
            if (Tracing())
                ConsoleLog(name + " = " + result + " (configured name)");
        }
    });
    return result;
}

std::string InboxFilename() {
    return FindFolderFile("inbox", oe::kFolderInbox,
                          gConf ? ConfiguredFolder(*gConf, kInboxSetting) : std::string());
}

std::string SentItemsFilename() {
    return FindFolderFile("sent items", oe::kFolderSentItems,
                          gConf ? ConfiguredFolder(*gConf, kSentItemsSetting) : std::string());
}

void GetBlockApproveFiles() {
    Guarded("GetBlockApproveFiles", [] {
        config::Conf& conf = Need(gConf);
        const std::string blockName = ConfiguredFolder(conf, "oe_block_folder");
        const std::string approveName = ConfiguredFolder(conf, "oe_approve_folder");
        gBlockFolder_Filename.clear();
        gApproveFolder_filename.clear();
        gBlockFolder_Filename = GetFolderFilename(blockName);
        gApproveFolder_filename = GetFolderFilename(approveName);
        if (Tracing()) {
            ConsoleLog("gBlockFolder_Filename = " + gBlockFolder_Filename);
            ConsoleLog("gApproveFolder_filename = " + gApproveFolder_filename);
        }
        if (gBlockFolder_Filename.empty() && !blockName.empty()) {
            ReportMissingFolder(blockName, "block");
        }
        if (gApproveFolder_filename.empty() && !approveName.empty()) {
            ReportMissingFolder(approveName, "approve");
        }
    });
}

}  // namespace qb::driver
