// ibutton-sim: 1-Wire adapters with virtual iButtons: a DS2480B serial adapter on a
// pseudo-terminal, or DS9490 USB adapters for one program run under umockdev.
#include "bus.h"
#include "ptyserver.h"
#include "statefolder.h"
#include "usbserver.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: ibutton-sim serve --tty PATH --state DIR [--trace] [--refuse-fast-rates]\n"
    "       ibutton-sim serve-usb --state DIR [--state DIR2 ...] [--trace] -- COMMAND ARGS...\n"
    "       ibutton-sim --state DIR put ROM       put a device on the bus (14 digits: CRC added)\n"
    "       ibutton-sim --state DIR remove ROM    take it off\n"
    "       ibutton-sim --state DIR list          the ROMs on the bus\n"
    "       ibutton-sim --state DIR dump ROM      a DS1993's memory as hex\n"
    "       ibutton-sim crc ROM                   14 or 16 digits: the ROM with its CRC\n"
    "ROM: 16 hexadecimal digits in bus order, family code first, CRC last.\n"
    "serve: runs until SIGTERM/SIGINT; SIGUSR1 prints the traffic counters, which are also\n"
    "written to DIR/stats after every exchange. --refuse-fast-rates: the adapter acknowledges\n"
    "a change of its host link rate but stays at 9600 baud.\n"
    "serve-usb: runs COMMAND with one virtual DS9490 per state folder (port 1 = the first) and\n"
    "ends with it, with its exit status. DIR/stats counts the USB transfers; creating the file\n"
    "DIR/unplugged pulls that adapter out.\n";

int usageError() {
    std::cerr << usage;
    return 2;
}

std::optional<ibsim::Rom> romArgument(const std::vector<std::string>& words, size_t index) {
    if (index >= words.size()) {
        std::cerr << "ibutton-sim: a ROM is needed\n";
        return std::nullopt;
    }
    auto rom = ibsim::romFromArgument(words[index]);
    if (!rom)
        std::cerr << "ibutton-sim: not a ROM (14 or 16 hexadecimal digits): " << words[index]
                  << '\n';
    return rom;
}

void dump(const ibsim::Ds1993Memory& memory) {
    for (size_t row = 0; row < memory.size(); row += 16) {
        std::printf("%04zX:", row);
        for (size_t i = row; i < row + 16; ++i)
            std::printf(" %02X", memory[i]);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string state;
    std::vector<std::filesystem::path> states;
    std::string tty;
    bool trace = false;
    bool refuseFastRates = false;
    std::vector<std::string> words;
    std::vector<std::string> command; // what follows "--"
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--") {
            command.assign(argv + i + 1, argv + argc);
            break;
        }
        if (argument == "--state" && i + 1 < argc) {
            state = argv[++i];
            states.emplace_back(state);
        } else if (argument == "--tty" && i + 1 < argc) {
            tty = argv[++i];
        } else if (argument == "--trace") {
            trace = true;
        } else if (argument == "--refuse-fast-rates") {
            refuseFastRates = true;
        } else if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        } else {
            words.push_back(argument);
        }
    }
    if (words.empty())
        return usageError();
    const std::string& action = words[0];

    try {
        if (action == "crc") {
            auto rom = romArgument(words, 1);
            if (!rom)
                return 1;
            std::cout << onewire::romToHex(*rom) << '\n';
            return 0;
        }
        if (state.empty())
            return usageError();
        if (action == "serve-usb") {
            if (command.empty())
                return usageError();
            ibsim::UsbServer server(states, trace);
            return server.run(command);
        }
        ibsim::StateFolder folder(state, std::cerr);

        if (action == "serve") {
            if (tty.empty())
                return usageError();
            std::filesystem::create_directories(state);
            ibsim::StateFolderSource source(folder);
            ibsim::OneWireBus bus(source);
            ibsim::PtyServer server(tty, bus, folder.directory() / "stats", trace, refuseFastRates);
            return server.run();
        }
        if (action == "put" || action == "remove" || action == "dump") {
            auto rom = romArgument(words, 1);
            if (!rom)
                return 1;
            if (action == "put") {
                if (!onewire::romCrcValid(*rom))
                    std::cerr << "ibutton-sim: note: the CRC byte of " << onewire::romToHex(*rom)
                              << " is wrong; the device goes on the bus as written\n";
                folder.put(*rom);
                return 0;
            }
            if (action == "remove")
                return folder.remove(*rom) ? 0 : 1;
            if (!std::filesystem::exists(folder.memoryPath(*rom))) {
                std::cerr << "ibutton-sim: no memory file for " << onewire::romToHex(*rom) << '\n';
                return 1;
            }
            dump(folder.readMemory(*rom));
            return 0;
        }
        if (action == "list") {
            for (const auto& rom : folder.readBus())
                std::cout << onewire::romToHex(rom) << '\n';
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << "ibutton-sim: " << error.what() << '\n';
        return 1;
    }
    return usageError();
}
