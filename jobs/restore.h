// The restore job behind "/restore": brings the saved settings and data back into a freshly
// installed suite, one copy-back step per saved item.
#pragma once

#include <string>

#include "jobs/copy_step.h"

class CRestore {
public:
    CRestore() = default;
    virtual ~CRestore() = default;

    // Points commonConfigFile at folder + "\CommonConfig.xml" (the "/common" restore).
    void SetCommonFolder(const std::u16string& folder);

    // Carries brand, platform, language and customer details from the saved CommonConfig.xml of the
    // backup folder into commonConfigFile, which keeps its other contents, and writes it back.
    // False when either file cannot be read or parsed, or is a link (the live file is then not
    // written), when the saved file's path cannot be formed, when the backup folder is a link or
    // owned by anyone but SYSTEM, Administrators or the running account, or when writing the live
    // file failed (it is then left as it was).
    bool MergeCommonConfig();

    // Copy-back steps: each copies one saved item over the new installation and returns whether the
    // copy succeeded; an item missing from the backup folder is skipped and counts as success.
    bool RestoreDieselConfig();
    bool RestoreEobdIni();
    bool RestoreExchangeIn();
    bool RestoreExchangeOut();
    bool RestoreGasConfig();
    bool RestoreOscilloIni();
    bool RestoreWizardConfig();
    bool RestoreRec();
    bool RestoreClientManager();
    bool RestoreDieselData();
    bool RestoreGasData();
    bool RestoreOscilloData();

    std::u16string recFolder;
    std::u16string clientManagerFolder;
    std::u16string commonConfigFile;
    std::u16string dieselConfigFolder;
    std::u16string dieselDataFolder;
    std::u16string eobdFolder;
    std::u16string exchangeInFolder;
    std::u16string exchangeOutFolder;
    std::u16string gasConfigFolder;
    std::u16string gasDataFolder;
    std::u16string oscilloIniFolder;
    std::u16string oscilloDataFolder;
    std::u16string wizardFolder;
};
