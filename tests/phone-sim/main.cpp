// phone-sim: plays the phone on the simulated radio until it is interrupted.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "PhonePairing.h"
#include "PhoneSim.h"
#include "PhoneWakeFile.h"
#include "blec/BLECCharacteristics.h"
#include "platform/ble/SimBleAir.h"
#include "runtime/HexString.h"

namespace {

volatile sig_atomic_t gStop = 0;
void onSignal(int) {
    gStop = 1;
}

const char* kUsage =
    "usage: phone-sim --air PATH [options]\n"
    "  --air PATH                 socket of the simulated radio\n"
    "  --start-air                run the radio hub at PATH in this process\n"
    "  --fixture FILE             vault and device as JSON (default: an empty vault)\n"
    "  --address ADDR             the phone's radio address (5A:12:9C:00:00:01)\n"
    "  --mtu N                    radio MTU; chunks are MTU - 3 bytes (185)\n"
    "  --chunk-size N             largest reply chunk (MTU - 3)\n"
    "  --key HEX                  link key for encrypted requests and replies\n"
    "  --compress auto|always|never  reply compression (auto: as the request)\n"
    "  --no-delivered-id          leave out A041 (no acknowledgements)\n"
    "  --second-channel           offer A042 and answer on it\n"
    "  --omit A003,A030           leave characteristics out\n"
    "  --reply-delay S            wait S seconds before each reply\n"
    "  --chunk-pause S            wait S seconds between reply chunks\n"
    "  --silent                   take requests, never acknowledge or answer\n"
    "  --no-ack                   answer, but never acknowledge requests\n"
    "  --disconnect-after-chunks N  drop this computer after N reply chunks\n"
    "  --error CATEGORY:ID        answer every call with this error\n"
    "  --no-advertise             do not advertise\n"
    "  --pair-url URL             scan this QR pairing URL: advertise its token and\n"
    "                             approve the computer that brings the handed-out\n"
    "                             secret\n"
    "  --pair-secret TEXT         the client secret to hand out (default: random)\n"
    "  --sleep-until-push         start asleep; wake when a push for this phone arrives\n"
    "  --wake-file PATH           pushes arrive as lines \"<token hex> <payload>\" here\n"
    "  --commands                 read the commands below from standard input also\n"
    "                             when it is a terminal (without it a terminal is left\n"
    "                             alone, so that phone-sim runs in the background of an\n"
    "                             interactive shell without being stopped)\n"
    "Commands on standard input (a pipe or a file), one a line:\n"
    "  copy-to-host LOGIN PASSWORD SECONDS\n"
    "                             put the login's password on this computer's clipboard\n"
    "                             for SECONDS: answers its clipboard request with it and\n"
    "                             asks it to fetch it (A050 = 3)\n"
    "  sleep                      go away: stop advertising and drop this computer (the\n"
    "                             pairing and the vault stay)\n"
    "  wake                       come back: advertise again\n";

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "phone-sim: " << problem << "\n" << kUsage;
    std::exit(2);
}

double number(const std::string& s, const char* what) {
    try {
        size_t used = 0;
        double v = std::stod(s, &used);
        if (used != s.size() || v < 0) throw std::invalid_argument(s);
        return v;
    } catch (const std::exception&) {
        usage(std::string("bad ") + what + ": " + s);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lumvane;
    using namespace lumvane::phonesim;
    PhoneSimOptions o;
    std::string fixture;
    bool startAir = false;
    std::optional<std::pair<int32_t, int64_t>> forcedError;
    std::string pairUrl, pairSecret, wakeFile;
    bool pairUrlGiven = false;
    bool commandsFromTerminal = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--air")
            o.socketPath = next();
        else if (a == "--start-air")
            startAir = true;
        else if (a == "--fixture")
            fixture = next();
        else if (a == "--address")
            o.address = next();
        else if (a == "--mtu")
            o.mtu = uint16_t(number(next(), "MTU"));
        else if (a == "--chunk-size")
            o.chunkSize = uint16_t(number(next(), "chunk size"));
        else if (a == "--key") {
            o.key = hexData(next());
            if (o.key->empty()) usage("empty key");
        } else if (a == "--compress") {
            const std::string v = next();
            if (v == "auto")
                o.compress = PhoneSimOptions::Compress::Auto;
            else if (v == "always")
                o.compress = PhoneSimOptions::Compress::Always;
            else if (v == "never")
                o.compress = PhoneSimOptions::Compress::Never;
            else
                usage("bad --compress " + v);
        } else if (a == "--no-delivered-id")
            o.deliveredId = false;
        else if (a == "--second-channel")
            o.secondChannel = true;
        else if (a == "--omit") {
            std::stringstream ss(next());
            std::string code;
            while (std::getline(ss, code, ',')) o.omit.insert(code);
        } else if (a == "--reply-delay")
            o.replyDelay = number(next(), "delay");
        else if (a == "--chunk-pause")
            o.chunkPause = number(next(), "pause");
        else if (a == "--silent")
            o.silent = true;
        else if (a == "--no-ack")
            o.noAck = true;
        else if (a == "--disconnect-after-chunks") {
            o.disconnectAfterChunks = int(number(next(), "chunk count"));
        } else if (a == "--error") {
            const std::string v = next();
            const auto colon = v.find(':');
            if (colon == std::string::npos) usage("bad --error " + v);
            forcedError = std::make_pair(int32_t(number(v.substr(0, colon), "category")),
                                         int64_t(number(v.substr(colon + 1), "id")));
        } else if (a == "--no-advertise")
            o.advertise = false;
        else if (a == "--pair-url") {
            pairUrl = next();
            pairUrlGiven = true;
        } else if (a == "--pair-secret")
            pairSecret = next();
        else if (a == "--sleep-until-push")
            o.sleeping = true;
        else if (a == "--wake-file")
            wakeFile = next();
        else if (a == "--commands")
            commandsFromTerminal = true;
        else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else
            usage("unknown option " + a);
    }
    if (o.socketPath.empty()) usage("--air is required");
    if (o.sleeping && wakeFile.empty()) usage("--sleep-until-push needs --wake-file");
    // An empty URL is what a script gets when it read lumvane's output too early; saying
    // so beats a phone that waits for a pairing that never comes.
    if (pairUrlGiven) {
        std::string problem;
        if (pairUrl.empty()) {
            usage("--pair-url is empty: pass the URL after \"lumvane: pairing URL: \"");
        } else if (!readPairingUrl(pairUrl, &problem)) {
            usage("--pair-url is not a pairing invitation (" + problem + "): " + pairUrl);
        }
    }

    VaultContent vault;
    if (!fixture.empty()) {
        try {
            vault = loadVaultFile(fixture);
        } catch (const std::exception& e) {
            std::cerr << "phone-sim: " << e.what() << "\n";
            return 2;
        }
    }

    std::unique_ptr<ble::sim::SimBleAir> air;
    if (startAir) {
        air = std::make_unique<ble::sim::SimBleAir>(o.socketPath);
        if (!air->start()) {
            std::cerr << "phone-sim: cannot run the radio at " << o.socketPath << "\n";
            return 1;
        }
    }

    auto phone = PhoneSim::create(o, std::move(vault));
    phone->setForcedError(forcedError);
    if (!phone->start()) {
        std::cerr << "phone-sim: cannot reach the radio at " << o.socketPath << "\n";
        return 1;
    }
    if (pairUrlGiven) {
        std::string problem;
        if (!phone->startPairing(pairUrl, &problem, pairSecret)) {
            std::cerr << "phone-sim: not a pairing invitation: " << problem << "\n";
            phone->stop();
            return 2;
        }
    }
    std::unique_ptr<WakeFileReader> wakeReader;
    if (!wakeFile.empty()) wakeReader = std::make_unique<WakeFileReader>(wakeFile);
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    std::cout << "phone-sim ready: address " << phone->address() << ", device id "
              << phone->deviceId() << std::endl;
    if (auto pairing = phone->pairing()) {
        std::cout << "phone-sim pairing: token " << pairing->invitation().token << std::endl;
    }
    bool toldPaired = false;
    std::string input;
    // A terminal is read only when asked: reading the terminal from the background of an
    // interactive shell stops the whole program (SIGTTIN), and what is typed there is
    // meant for the shell.
    bool inputOpen = commandsFromTerminal || !::isatty(STDIN_FILENO);
    size_t toldImports = 0;
    while (!gStop) {
        while (inputOpen) {
            pollfd p{STDIN_FILENO, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP))) break;
            char buffer[512];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                inputOpen = false;
                break;
            }
            input.append(buffer, static_cast<size_t>(n));
        }
        for (size_t end; (end = input.find('\n')) != std::string::npos;) {
            std::stringstream command(input.substr(0, end));
            input.erase(0, end + 1);
            std::string verb, login, password;
            double seconds = 0;
            if (command.str() == "sleep") {
                phone->sleep();
                std::cout << "phone-sim asleep" << std::endl;
            } else if (command.str() == "wake") {
                phone->wakeUp();
                std::cout << "phone-sim awake" << std::endl;
            } else if (command >> verb >> login >> password >> seconds && verb == "copy-to-host") {
                auto answer = std::make_shared<TBNLoadDataForClipboardResponse>();
                answer->setLogin(login);
                answer->setPassword(password);
                answer->setClearTimeout(static_cast<int16_t>(seconds));
                phone->vault().mobileStorage().setClipboard(answer);
                phone->setUInt32(blec::code::kNeedCommunicate, 3);
                std::cout << "phone-sim copy-to-host: " << login << std::endl;
            }
        }
        // Each import the computer sent, login by login (notes with their line breaks escaped).
        const auto imports = phone->vault().mobileStorage().received().imports;
        for (; toldImports < imports.size(); ++toldImports) {
            const auto& records = imports[toldImports].records;
            const auto sites = records && records->records() ? records->records() : nullptr;
            std::cout << "phone-sim imported: " << (sites ? sites->size() : 0) << " sites"
                      << std::endl;
            for (const auto& site : sites ? *sites : std::vector<std::shared_ptr<TBNSiteData>>{}) {
                if (!site || !site->loginData()) continue;
                for (const auto& login : *site->loginData()) {
                    std::string notes = login->notes().value_or("");
                    for (size_t i = 0; (i = notes.find('\n', i)) != std::string::npos; i += 2) {
                        notes.replace(i, 1, "\\n");
                    }
                    std::cout << "phone-sim imported login: " << site->domain().value_or("") << " "
                              << login->login().value_or("") << " notes=" << notes << std::endl;
                }
            }
        }
        if (auto pairing = phone->pairing(); pairing && !toldPaired && pairing->approved()) {
            toldPaired = true;
            std::cout << "phone-sim paired: client " << pairing->approved()->clientId << std::endl;
        }
        if (wakeReader) {
            for (const auto& line : wakeReader->newLines()) {
                const bool wasAsleep = phone->asleep();
                if (phone->takePush(line) && wasAsleep) {
                    std::cout << "phone-sim woke: push received" << std::endl;
                }
            }
        }
        usleep(100 * 1000);
    }
    phone->stop();
    if (air) air->stop();
    return 0;
}
