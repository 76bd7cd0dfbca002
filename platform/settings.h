#pragma once

#include <string>
#include <vector>

// What the program remembers between runs (the user's configuration folder,
// one file for the program). Keys are plain words with '/' between groups.
// A key never written reads as the fallback.

namespace fyrel {

std::string loadSetting(const std::string& key, const std::string& fallback = {});
void saveSetting(const std::string& key, const std::string& value);

std::vector<std::string> loadSettingList(const std::string& key);
void saveSettingList(const std::string& key, const std::vector<std::string>& values);

}  // namespace fyrel
