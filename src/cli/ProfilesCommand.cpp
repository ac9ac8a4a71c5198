#include <iostream>
#include <map>

#include "app/core/ProfileCatalogue.h"
#include "cli/CliCommands.h"

// One line a profile: its number, name and format key; today's add "today: " and the group the
// window shows them under, so that a script reading three columns reads them as before.
int ProfilesCommand() {
    std::map<int, std::string> todaysGroup;
    for (const TProfileGroup& group : ProfileGroups()) {
        if (!group.Today) continue;
        for (int line : group.Lines) todaysGroup[line] = group.Heading;
    }
    const auto& lines = OutputFormatLines();
    for (std::size_t line = 0; line < lines.size(); ++line) {
        const TCatalogueLine& entry = lines[line];
        std::cout << line << '\t' << entry.Text << '\t'
                  << (entry.Profile ? entry.Profile->FormatKey : std::string());
        if (const auto group = todaysGroup.find(static_cast<int>(line));
            group != todaysGroup.end()) {
            std::cout << "\ttoday: " << group->second;
        }
        std::cout << '\n';
    }
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailed;
}
