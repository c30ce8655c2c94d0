// The run's settings; see UpdateSettings.h.
#include "update/UpdateSettings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

UpdateSettings::UpdateSettings() { SetKey(BuiltInUpdateKey()); }

void UpdateSettings::SetKey(const unsigned char* pKey) {
    bKeyed = pKey != nullptr;
    if (pKey) std::memcpy(key, pKey, sizeof key);
}

std::string UpdateSettings::ServerName(size_t i) const {
    return i < servers.size() ? servers[i].strHost + ":" + std::to_string(servers[i].nPort) : std::string();
}

void ReadUpdateIni(UpdateSettings& settings) {
    settings.rows.clear();
    settings.nLimitKiB = 0;
    std::FILE* pFile = std::fopen("update.ini", "rt");
    if (!pFile) return;
    ReadUpdateServers(pFile, settings.rows, &settings.nLimitKiB);
    std::fclose(pFile);
}

bool ChooseServers(UpdateSettings& settings, int nLineKey) {
    const std::vector<UpdateServerRow>& rows = settings.rows;
    settings.servers.clear();
    int nRow = rows.empty() ? -1 : ChooseServerRow(rows, nLineKey, std::rand());
    if (nRow < 0) return false;
    for (int i : ServerOrder(rows, nLineKey, nRow)) {
        const UpdateServerRow& row = rows[i];
        settings.servers.push_back({row.szHost, static_cast<unsigned short>(row.nPort & 0xFFFF), ConnectionsOf(row)});
    }
    return true;
}

UpdateSettings LoadUpdateSettings(const std::string& strProduct, const std::string& strStartParam) {
    UpdateSettings settings;
    settings.strProduct = strProduct;
    settings.strStartParam = strStartParam;
    ReadUpdateIni(settings);
    ChooseServers(settings, 1);
    return settings;
}
