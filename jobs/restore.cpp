#include "jobs/restore.h"

void CRestore::SetCommonFolder(const std::u16string& folder) {
    commonConfigFile = folder + u"\\CommonConfig.xml";
}

// The fumi module's settings were saved under the name "diesel"; they come back into the new
// installation's "diesel" folders.
bool CRestore::RestoreDieselConfig() {
    return CopyBack(u"diesel", CopyKind::SettingsFlat, dieselConfigFolder);
}

bool CRestore::RestoreEobdIni() {
    return CopyBack(u"eobd.ini", CopyKind::SettingsFlat, eobdFolder);
}

bool CRestore::RestoreExchangeIn() {
    return CopyBack(u"kormo\\Exchange - In", CopyKind::DataTree, exchangeInFolder);
}

bool CRestore::RestoreExchangeOut() {
    return CopyBack(u"kormo\\Exchange - Out", CopyKind::DataTree, exchangeOutFolder);
}

bool CRestore::RestoreGasConfig() {
    return CopyBack(u"gas", CopyKind::SettingsFlat, gasConfigFolder);
}

bool CRestore::RestoreOscilloIni() {
    return CopyBack(u"oscillo.ini", CopyKind::SettingsFlat, oscilloIniFolder);
}

bool CRestore::RestoreWizardConfig() {
    return CopyBack(u"ConfigurationWizard.xml", CopyKind::SettingsFlat, wizardFolder);
}

// Only kormo's own files go to "rec"; its exchange subfolders come back by their own steps.
bool CRestore::RestoreRec() {
    return CopyBack(u"kormo", CopyKind::DataFlat, recFolder);
}

bool CRestore::RestoreClientManager() {
    return CopyBack(u"clientmanager", CopyKind::DataTree, clientManagerFolder);
}

bool CRestore::RestoreDieselData() {
    return CopyBack(u"diesel", CopyKind::DataTree, dieselDataFolder);
}

bool CRestore::RestoreGasData() {
    return CopyBack(u"gas", CopyKind::DataTree, gasDataFolder);
}

bool CRestore::RestoreOscilloData() {
    return CopyBack(u"oscillo", CopyKind::DataTree, oscilloDataFolder);
}
