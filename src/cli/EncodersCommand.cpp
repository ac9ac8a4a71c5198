#include <iostream>

#include "binding/FFmpegLibs.h"
#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "component/HardwareEncoders.h"

int EncodersCommand(const std::vector<std::string>& renderNodes) {
    if (!LoadMediaLibraries()) return kExitFailed;
    // The drivers say which file they tried at the libraries' verbose level; those words go
    // into the reasons, not onto the terminal.
    SetLibraryLogLevel(2);
    THardwareSurveySettings settings;
    settings.RenderNodes = renderNodes;
    const THardwareSurvey survey = SurveyHardwareEncoders(settings);
    for (const THardwareDevice& device : survey.Devices) {
        std::cout << "device\t" << HardwareApiName(device.Api)
                  << (device.Path.empty() ? "" : " " + device.Path) << '\t'
                  << (device.Opened ? "opened" : device.Reason) << '\n';
    }
    for (const std::string& line : DescribeHardwareSurvey(survey)) std::cout << line << '\n';
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailed;
}
