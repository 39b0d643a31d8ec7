// wattmeter-sim: the amplifier simulator. See --help.
#include "sim/options.h"
#include "sim/simulator.h"

#include "link/ports_folder.h"

#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
    sim::Options options;
    std::string error;
    if (!sim::parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "wattmeter-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::printf("%s", sim::helpText().c_str());
        return 0;
    }
    // The same folder the program resolves its COM ports in.
    const std::filesystem::path folder(QFile::encodeName(seriallink::portsFolder()).toStdString());
    sim::Simulator simulator(options, folder / ("com" + std::to_string(options.com)));
    return simulator.run();
}
