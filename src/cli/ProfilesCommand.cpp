#include <iostream>

#include "app/core/ProfileCatalogue.h"
#include "cli/CliCommands.h"

int ProfilesCommand() {
    const auto& lines = OutputFormatLines();
    for (std::size_t line = 0; line < lines.size(); ++line) {
        const TCatalogueLine& entry = lines[line];
        std::cout << line << '\t' << entry.Text << '\t'
                  << (entry.Profile ? entry.Profile->FormatKey : std::string()) << '\n';
    }
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailed;
}
