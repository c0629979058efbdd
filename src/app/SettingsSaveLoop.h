#pragma once
// A check of the settings save under kills: with PC_TEST_SETTINGS_SAVE_LOOP
// set in its environment the program, once it holds its folder, saves the
// settings again and again instead of opening its window. Each save writes
// one generation number into all three files: server.ini [Header]
// SupplierName "gen N", client.ini [PriceTagsPrintSettings] Count N,
// exchange.ini [Order] FileNameOrder "genN.dbf". The value is the number of
// saves (below 0: until killed; 0: only the start-up tidying, then exit).

#include <optional>

namespace pc {
class AppContext;
}

// The number of saves asked for, or nothing when the variable is not set.
std::optional<int> settingsSaveLoopRequested();
int runSettingsSaveLoop(const pc::AppContext &context, int saves);
