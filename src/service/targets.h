#pragma once

#include "core/download/target_address.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::service {

// Reads one address a line; blank lines and text from '#' on are skipped. On failure returns
// nullopt with the reason (the line number for a bad address) in *error. *lineNumbers, when
// given, gets the line of each target read.
std::optional<std::vector<DownloadTarget>> readTargetsFile(const std::string& path,
                                                           std::string* error,
                                                           std::vector<int>* lineNumbers = nullptr);
// The same over the text of a targets file, named `name` in *error.
std::optional<std::vector<DownloadTarget>> readTargetsText(std::string_view text,
                                                           const std::string& name,
                                                           std::string* error,
                                                           std::vector<int>* lineNumbers = nullptr);

} // namespace tolvane::service
