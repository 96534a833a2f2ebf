// Tables: the offered API tables and their default versions.
#include "Tables.h"

#include "HostServices.h"

namespace acro_host {

void TableSet::offer(const std::string& name, ASVersion version) {
    auto& slot = offered_[name];
    if (!slot) {
        slot = std::make_unique<OfferedTable>();
        slot->name = name;
        slot->entries = registeredTable(name);
        if (slot->entries.empty()) slot->entries.push_back(nullptr);
        slot->entries[0] = nullptr;
    }
    slot->version = version;
}

void TableSet::withdraw(const std::string& name) {
    auto it = offered_.find(name);
    if (it == offered_.end()) return;
    withdrawn_.push_back(std::move(it->second));
    offered_.erase(it);
}

HFT TableSet::find(const std::string& name, ASVersion version) const {
    auto it = offered_.find(name);
    if (it == offered_.end() || it->second->version < version) return nullptr;
    return it->second->entries.data();
}

ASVersion TableSet::versionOf(HFT table) const {
    if (!table) return HFT_ERROR_NO_VERSION;
    for (const auto& [name, t] : offered_)
        if (t->entries.data() == table) return t->version;
    for (const auto& t : withdrawn_)
        if (t->entries.data() == table) return t->version;
    return HFT_ERROR_NO_VERSION;
}

bool TableSet::offers(const std::string& name) const {
    return offered_.count(name) != 0;
}

TableSet& tables() {
    static TableSet* set = new TableSet;  // never destroyed: plug-ins hold its tables until exit
    return *set;
}

const std::vector<TableDefault>& defaultTables() {
    static const std::vector<TableDefault> defaults = {
        {CoreHFTName, CoreHFT_VERSION_9},
        {AcroSupportHFTName, ASCallsHFT_VERSION_9},
        {CosHFTName, CosHFT_VERSION_9},
        {PDModelHFTName, PDModelHFT_VERSION_9},
        {PDFEditWriteHFTName, ASVersionMake(9, 0)},
        {PDFEditReadHFTName, ASVersionMake(9, 0)},
        {PDSysFontHFTName, ASVersionMake(9, 0)},
        {PagePDEContentHFTName, ASVersionMake(9, 0)},
        {AcroViewHFTName, AcroViewHFT_VERSION_9},
        {PDSWriteHFTName, ASVersionMake(9, 0)},
        {PDSReadHFTName, ASVersionMake(9, 0)},
        {MacintoshHFTName, ASVersionMake(9, 0)},
        {ASExtraHFTName, ASExtraHFT_VERSION_9},
        {PDMetadataHFTName, ASVersionMake(9, 0)},
        {AcroColorHFTName, ASVersionMake(9, 0)},
        {FormsHFTName, AcroFormHFT_VERSION_9},
    };
    return defaults;
}

}  // namespace acro_host
