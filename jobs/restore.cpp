#include "jobs/restore.h"

#include "jobs/run_report.h"

namespace {

// One copy-back step as the run report shows it: its name and the saved item it brings back.
bool ReportedCopyBack(const char16_t* step, const char16_t* itemName, CopyKind kind,
                      const std::u16string& destination) {
    run_report::CStepReport report(
        step, (kind == CopyKind::SettingsFlat ? u"" : u"Data\\") + std::u16string(itemName));
    return report.End(CopyBack(itemName, kind, destination));
}

}  // namespace

void CRestore::SetCommonFolder(const std::u16string& folder) {
    commonConfigFile = folder + u"\\CommonConfig.xml";
}

// The fumi module's settings were saved under the name "diesel"; they come back into the new
// installation's "diesel" folders.
bool CRestore::RestoreDieselConfig() {
    return ReportedCopyBack(u"RestoreDieselConfig", u"diesel", CopyKind::SettingsFlat, dieselConfigFolder);
}

bool CRestore::RestoreEobdIni() {
    return ReportedCopyBack(u"RestoreEobdIni", u"eobd.ini", CopyKind::SettingsFlat, eobdFolder);
}

bool CRestore::RestoreExchangeIn() {
    return ReportedCopyBack(u"RestoreExchangeIn", u"kormo\\Exchange - In", CopyKind::DataTree,
                            exchangeInFolder);
}

bool CRestore::RestoreExchangeOut() {
    return ReportedCopyBack(u"RestoreExchangeOut", u"kormo\\Exchange - Out", CopyKind::DataTree,
                            exchangeOutFolder);
}

bool CRestore::RestoreGasConfig() {
    return ReportedCopyBack(u"RestoreGasConfig", u"gas", CopyKind::SettingsFlat, gasConfigFolder);
}

bool CRestore::RestoreOscilloIni() {
    return ReportedCopyBack(u"RestoreOscilloIni", u"oscillo.ini", CopyKind::SettingsFlat, oscilloIniFolder);
}

bool CRestore::RestoreWizardConfig() {
    return ReportedCopyBack(u"RestoreWizardConfig", u"ConfigurationWizard.xml", CopyKind::SettingsFlat,
                            wizardFolder);
}

// Only kormo's own files go to "rec"; its exchange subfolders come back by their own steps.
bool CRestore::RestoreRec() {
    return ReportedCopyBack(u"RestoreRec", u"kormo", CopyKind::DataFlat, recFolder);
}

bool CRestore::RestoreClientManager() {
    return ReportedCopyBack(u"RestoreClientManager", u"clientmanager", CopyKind::DataTree,
                            clientManagerFolder);
}

bool CRestore::RestoreDieselData() {
    return ReportedCopyBack(u"RestoreDieselData", u"diesel", CopyKind::DataTree, dieselDataFolder);
}

bool CRestore::RestoreGasData() {
    return ReportedCopyBack(u"RestoreGasData", u"gas", CopyKind::DataTree, gasDataFolder);
}

bool CRestore::RestoreOscilloData() {
    return ReportedCopyBack(u"RestoreOscilloData", u"oscillo", CopyKind::DataTree, oscilloDataFolder);
}
