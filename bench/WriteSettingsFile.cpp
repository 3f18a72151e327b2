// Writes a settings file for running the real application on many rules: one profile of the
// given number of rules, active, with automation on, and Default settings for eight displays.
//     quorvane_bench_settings_file RULES PATH
#include "SettingsDocuments.h"

#include "Foundation/AtomicFile.h"
#include "QuorvaneCore/SettingsCoding.h"

#include <cstdio>
#include <filesystem>
#include <string>

using namespace quorvane;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: quorvane_bench_settings_file RULES PATH\n", stderr);
        return 2;
    }
    const int rules = std::stoi(argv[1]);
    Configuration document = bench::configurationWith(rules, rules);
    document.activeProfileID = document.profiles.back().id;
    document.automationEnabled = true;
    document.validate();
    const std::filesystem::path path(argv[2]);
    std::filesystem::create_directories(path.parent_path());
    writeFileAtomically(path, encodeConfigurationText(document));
    return 0;
}
