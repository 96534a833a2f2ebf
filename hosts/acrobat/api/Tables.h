// Tables: the API tables (HFTs) the host offers its plug-ins, each under a
// name and a version, filled from the procedures the files behind the
// tables registered (HostAPI.h).
//
// Built once before the plug-ins load and left in place until the host
// quits (plug-ins keep the table pointers), so lookups need no lock.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AcroSDK.h"

namespace acro_host {

struct OfferedTable {
    std::string name;
    ASVersion version = 0;
    std::vector<HFTEntry> entries;  // entry 0 unused
};

class TableSet {
public:
    // Offers `name` at `version`, its entries taken from the registry.
    // Offering a name again replaces its version (the entries stay where they are).
    void offer(const std::string& name, ASVersion version);
    // Stops offering `name` (plug-ins that hold it keep a valid table).
    void withdraw(const std::string& name);
    // The table named `name` when it is offered at `version` or later; else null.
    HFT find(const std::string& name, ASVersion version) const;
    // The version a table was offered at; HFT_ERROR_NO_VERSION for anything else.
    ASVersion versionOf(HFT table) const;
    bool offers(const std::string& name) const;

private:
    std::map<std::string, std::unique_ptr<OfferedTable>> offered_;
    std::vector<std::unique_ptr<OfferedTable>> withdrawn_;  // kept alive for plug-ins holding them
};

// The host's one table set.
TableSet& tables();

// Every table the host knows, with the version it offers by default.
struct TableDefault {
    const char* name;
    ASVersion version;
};
const std::vector<TableDefault>& defaultTables();

}  // namespace acro_host
